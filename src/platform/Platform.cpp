#include "platform/Platform.h"

#include <QCoreApplication>
#include <QDir>
#include <QStandardPaths>

namespace Platform {

QString applicationSupportBase()
{
    // GenericDataLocation is ~/.local/share on Linux and ~/Library/Application Support on macOS.
    const QString location = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (!location.isEmpty())
        return location;
#if defined(Q_OS_MACOS)
    return QDir::home().filePath(QStringLiteral("Library/Application Support"));
#else
    return QDir::home().filePath(QStringLiteral(".local/share"));
#endif
}

std::optional<QString> bundlePath()
{
    if (!QCoreApplication::instance())
        return std::nullopt;
    QDir dir(QCoreApplication::applicationDirPath());
    if (dir.dirName() != QLatin1String("MacOS") || !dir.cdUp() || dir.dirName() != QLatin1String("Contents")
        || !dir.cdUp() || !dir.dirName().endsWith(QLatin1String(".app")))
        return std::nullopt;
    return dir.absolutePath();
}

std::optional<QString> bundleResourceDirectory()
{
    const auto bundle = bundlePath();
    if (!bundle)
        return std::nullopt;
    return QDir(*bundle).filePath(QStringLiteral("Contents/Resources"));
}

} // namespace Platform
