#include "support/TempHome.h"

#include "platform/Platform.h"
#include "process/Tools.h"

#include <QDateTime>
#include <QDir>
#include <QSettings>

namespace {
void restore(const char* name, const QByteArray& value)
{
    if (value.isNull())
        qunsetenv(name);
    else
        qputenv(name, value);
}
} // namespace

TempHome::TempHome()
    : m_oldHome(qgetenv("HOME"))
    , m_oldDataHome(qgetenv("XDG_DATA_HOME"))
    , m_oldConfigHome(qgetenv("XDG_CONFIG_HOME"))
    , m_oldStateHome(qgetenv("XDG_STATE_HOME"))
{
    QDir(m_dir.path()).mkpath(QStringLiteral("resources"));
    qputenv("HOME", m_dir.path().toUtf8());
    qputenv("XDG_DATA_HOME", filePath(QStringLiteral(".local/share")).toUtf8());
    qputenv("XDG_CONFIG_HOME", filePath(QStringLiteral(".config")).toUtf8());
    qputenv("XDG_STATE_HOME", filePath(QStringLiteral(".local/state")).toUtf8());
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
    restore("HOME", m_oldHome);
    restore("XDG_DATA_HOME", m_oldDataHome);
    restore("XDG_CONFIG_HOME", m_oldConfigHome);
    restore("XDG_STATE_HOME", m_oldStateHome);
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
