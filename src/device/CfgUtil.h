#pragma once

#include "device/Device.h"
#include "process/CancelHandle.h"
#include "process/ProcessOutput.h"

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

#include <QCoroTask>

#include <chrono>
#include <functional>
#include <optional>

/// Drives Apple Configurator's cfgutil: cable-connected phones, their properties, installs.
/// Also owns the progress-line parser and the failure translation the whole device side shares.
/// Holds no state; every operation throws CfgUtilError (or ToolError when cfgutil cannot start).
class CfgUtil {
public:
    struct Progress {
        double fraction = 0; // within [0, 1]
        QString step;
    };
    using ProgressHandler = std::function<void(double fraction, const QString& step)>;

    /// `watchdog`: how long cfgutil may stay silent; the build's limit when absent.
    explicit CfgUtil(std::optional<std::chrono::milliseconds> watchdog = std::nullopt);

    QCoro::Task<QList<Device>> devices();
    QCoro::Task<QJsonObject> properties(QString ecid, QStringList names);
    QCoro::Task<> install(QString ipa, QString ecid, ProgressHandler onProgress,
                          std::optional<CancelHandle> cancel = std::nullopt);
    /// Runs cfgutil with "--format JSON" before `arguments` and returns its answer object.
    QCoro::Task<QJsonObject> runJSON(QStringList arguments);

    static std::optional<Progress> parseProgress(const QString& line);
    static QString humanReadableFailure(const ProcessOutput& output);
    /// Plain advice for a failure the phone tools describe in `text`, when one is known.
    static std::optional<QString> adviceFor(const QString& text);

    // The pure halves of the operations above.
    static QJsonObject interpretJSON(const ProcessOutput& output);
    static QStringList ecids(const QJsonObject& listAnswer);
    static QJsonObject deviceProperties(const QJsonObject& getAnswer, const QString& ecid);
    static Device deviceFrom(const QString& ecid, const std::optional<QJsonObject>& properties);
    /// Calls `onProgress` for lines that carry a percentage and ignores the rest.
    static std::function<void(const QString&)> progressLines(ProgressHandler onProgress);

private:
    std::chrono::milliseconds m_watchdog;
};
