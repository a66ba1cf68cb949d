#pragma once

#include "device/CfgUtil.h"
#include "device/CfgUtilError.h"
#include "process/CancelHandle.h"
#include "process/ProcessOutput.h"

#include <QString>
#include <QStringList>

#include <QCoroTask>

#include <chrono>
#include <optional>

/// Installs an .ipa through libimobiledevice's ideviceinstaller, addressed by UDID; the fallback
/// when cfgutil cannot serve the phone. Speaks both command-line dialects the tool has had.
class IDeviceInstaller {
public:
    /// 1.1.x (Debian 12) knows only flags (`-l -o xml`, `-i ARCHIVE`); 1.2.0 and later take
    /// subcommands (`list --xml -a KEY`, `install PATH`).
    enum class Syntax { subcommands, legacyFlags };

    /// `watchdog`: how long an install may stay silent; the build's limit when absent.
    explicit IDeviceInstaller(std::optional<std::chrono::milliseconds> watchdog = std::nullopt);

    static bool isAvailable();
    /// How to get the tool on this platform.
    static QString installHint();

    /// Throws CfgUtilError (when the tool is missing, or with the advice for what the phone
    /// said), ToolError when it cannot start or was cancelled. `network`: the phone is reachable
    /// over Wi-Fi only. A phone that stops answering is given up after the tools' watchdog.
    QCoro::Task<> install(QString ipa, QString udid, bool network, CfgUtil::ProgressHandler onProgress,
                          std::optional<CancelHandle> cancel = std::nullopt);

    /// Asks the tool for its help once per tool file and remembers the answer.
    static QCoro::Task<Syntax> syntax(QString tool);
    /// nullopt when the help text says nothing recognisable.
    static std::optional<Syntax> syntaxFromHelp(const QString& help);
    static QStringList installArguments(Syntax syntax, const QString& udid, const QString& ipa, bool network = false);
    static QStringList listArguments(Syntax syntax, const QString& udid, bool network = false);

    /// Nothing when the install is proven done: the tool exits 0 even when the cable was pulled,
    /// so only its "Complete" step counts. Otherwise the failure, decided from standard error and
    /// "ERROR:" lines alone (standard output echoes the file's path, which may hold any word).
    static std::optional<CfgUtilError> installFailure(const ProcessOutput& output);
    /// The step's name in Russian for "Install: CreatingStagingDirectory (" and the like.
    static QString stepName(const QString& step);

private:
    std::chrono::milliseconds m_watchdog;
};
