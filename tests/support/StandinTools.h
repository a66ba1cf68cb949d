#pragma once

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

/// Installs the stand-in program under the external tools' names in one folder and drives it:
/// the scenario it follows, the state it keeps between calls and the calls it has seen.
/// The folder can be handed to the application as its resource folder.
class StandinTools {
public:
    // Symlinks, falling back to copies; the folder is created if missing and starts with an empty
    // scenario, no state and no call log.
    explicit StandinTools(QString resourceDir,
                          QStringList toolNames = {QStringLiteral("ipatool"), QStringLiteral("cfgutil"),
                                                   QStringLiteral("idevice_id"), QStringLiteral("ideviceinfo"),
                                                   QStringLiteral("ideviceinstaller")});

    // Also forgets how often each rule was used, since rule positions refer to the old scenario.
    void setScenario(const QJsonObject& scenario);
    void setState(const QString& key, const QString& value);
    // The value the stand-in would see: the state file, else the scenario's initial state.
    QString state(const QString& key) const;
    QList<QStringList> calls(const QString& tool) const;

    QString path(const QString& tool) const;
    static QString programPath();

private:
    void editState(const std::function<void(QJsonObject&)>& edit);

    QString m_dir;
    QStringList m_tools;
};
