#include "support/TempHome.h"

#include "platform/Platform.h"
#include "process/Tools.h"

#include <QDateTime>
#include <QDir>
#include <QSettings>

namespace {
const char* const variables[] = {"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_STATE_HOME"};
} // namespace

TempHome::TempHome()
{
    QDir(m_dir.path()).mkpath(QStringLiteral("resources"));
    const QString values[] = {m_dir.path(), filePath(QStringLiteral(".local/share")),
                              filePath(QStringLiteral(".config")), filePath(QStringLiteral(".local/state"))};
    for (int i = 0; i < 4; ++i) {
        m_old.append(qgetenv(variables[i]));
        qputenv(variables[i], values[i].toUtf8());
    }
    Tools::setSupportDirectory(supportDirectory());
    Tools::setResourceDirectory(resourceDirectory());
    Tools::setSystemToolsSearched(false);
    // No test reaches the real update server: the day's automatic update check counts as done.
    Platform::preferences()->setValue("lastUpdateCheck", QDateTime::currentSecsSinceEpoch() + 0.0);
}

TempHome::~TempHome()
{
    Tools::setSupportDirectory(std::nullopt);
    Tools::setResourceDirectory(std::nullopt);
    Tools::setSystemToolsSearched(true);
    for (int i = 0; i < 4; ++i) {
        if (m_old[i].isNull())
            qunsetenv(variables[i]);
        else
            qputenv(variables[i], m_old[i]);
    }
}

QString TempHome::supportDirectory() const
{
    return filePath(QStringLiteral("support/Quorrel"));
}

QString TempHome::resourceDirectory() const
{
    return filePath(QStringLiteral("resources"));
}

QString TempHome::filePath(const QString& relative) const
{
    return QDir(m_dir.path()).filePath(relative);
}
