#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <optional>

/// What the phone is and how its install goes in one run.
struct Scenario {
    enum class Trouble { none, refuse, unplugDuringUpload, unplugDuringInstall, hang };
    struct Step {
        QString status;
        int percent = 0;
    };

    QString udid = QStringLiteral("00008110-000A1C2E3E90801E");
    QString name = QStringLiteral("iPhone Лены");
    QString productType = QStringLiteral("iPhone14,5");
    QString productVersion = QStringLiteral("16.6");
    bool attached = true;
    bool network = false;
    bool trusted = true;
    /// What lockdownd answers a pairing request with while the phone waits for "Trust".
    QString pairError = QStringLiteral("PairingDialogResponsePending");
    QJsonArray apps;
    QList<Step> steps;
    Trouble trouble = Trouble::none;
    /// Progress steps sent before the trouble starts.
    int stepsBeforeTrouble = 3;
    QString errorName = QStringLiteral("ApplicationVerificationFailed");
    QString errorDescription = QStringLiteral("A valid provisioning profile for this executable was not found.");
    quint64 errorCode = 0xe8008015;

    static QStringList names();
    /// `name` picks the defaults; members of `config` override them. Empty with `error` set on a mistake.
    static std::optional<Scenario> make(const QString& name, const QJsonObject& config, QString* error);
};
