#include "process/Tools.h"

#include "platform/Platform.h"

#include <QDir>
#include <QFileInfo>
#include <QMutex>
#include <QRegularExpression>
#include <QVersionNumber>

namespace Tools {
namespace {

struct Redirections {
    QMutex mutex;
    std::optional<QString> resourceDirectory;
    std::optional<QString> supportDirectory;
    bool systemToolsSearched = true;
};

Redirections& redirections()
{
    static Redirections instance;
    return instance;
}

bool isExecutableFile(const QString& path)
{
    const QFileInfo info(path);
    return info.isFile() && info.isExecutable();
}

QStringList withSystemPaths(const QString& name, QStringList paths)
{
    // Distributions install libimobiledevice and ideviceinstaller here.
    if (Platform::isLinux())
        paths.append(QStringLiteral("/usr/bin/") + name);
    return paths;
}

// Linux users install ipatool from release files named ipatool-<version>-linux-<arch>, often
// without renaming them, into one of these folders.
QStringList linuxIpatoolFolders()
{
    const QString home = QDir::homePath();
    return {home + QStringLiteral("/.local/bin"), home + QStringLiteral("/go/bin"),
            QStringLiteral("/home/linuxbrew/.linuxbrew/bin"), home + QStringLiteral("/.nix-profile/bin"),
            QStringLiteral("/usr/bin")};
}

std::optional<QString> lookup(const QString& name, const QStringList& paths)
{
    return candidates(name, withSystemPaths(name, paths));
}

QString ensured(const QString& path)
{
    QDir().mkpath(path);
    return path;
}

} // namespace

std::optional<QString> candidates(const QString& name, const QStringList& paths)
{
    if (const auto resources = resourceDirectory()) {
        const QString bundled = QDir(*resources).filePath(name);
        if (isExecutableFile(bundled))
            return bundled;
    }
    {
        QMutexLocker lock(&redirections().mutex);
        if (!redirections().systemToolsSearched)
            return std::nullopt;
    }
    for (const QString& path : paths) {
        if (isExecutableFile(path))
            return path;
    }
    return std::nullopt;
}

std::optional<QString> newestReleaseFile(const QString& folder)
{
    static const QRegularExpression releaseName(QStringLiteral(R"(^ipatool-v?(\d+(?:\.\d+)*)-linux-[A-Za-z0-9_]+$)"));
    std::optional<QString> newest;
    QVersionNumber newestVersion;
    const QStringList names = QDir(folder).entryList({QStringLiteral("ipatool-*")}, QDir::Files, QDir::Name);
    for (const QString& name : names) {
        const QRegularExpressionMatch match = releaseName.match(name);
        const QString path = QDir(folder).filePath(name);
        if (!match.hasMatch() || !isExecutableFile(path))
            continue;
        const QVersionNumber version = QVersionNumber::fromString(match.captured(1));
        if (!newest || version > newestVersion) {
            newest = path;
            newestVersion = version;
        }
    }
    return newest;
}

std::optional<QString> ipatool()
{
    const QString name = QStringLiteral("ipatool");
    QStringList paths{QStringLiteral("/opt/homebrew/bin/ipatool"), QStringLiteral("/usr/local/bin/ipatool")};
    if (!Platform::isLinux())
        return candidates(name, paths);
    QStringList folders{QStringLiteral("/opt/homebrew/bin"), QStringLiteral("/usr/local/bin")};
    folders += linuxIpatoolFolders();
    paths.clear();
    for (const QString& folder : std::as_const(folders)) {
        paths.append(QDir(folder).filePath(name));
        if (const auto release = newestReleaseFile(folder))
            paths.append(*release);
    }
    return candidates(name, paths);
}

std::optional<QString> cfgutil()
{
    return lookup(QStringLiteral("cfgutil"),
                  {QStringLiteral("/usr/local/bin/cfgutil"),
                   QStringLiteral("/Applications/Apple Configurator.app/Contents/MacOS/cfgutil"),
                   QStringLiteral("/Applications/Apple Configurator 2.app/Contents/MacOS/cfgutil")});
}

std::optional<QString> ideviceinstaller()
{
    return lookup(QStringLiteral("ideviceinstaller"), {QStringLiteral("/opt/homebrew/bin/ideviceinstaller"),
                                                       QStringLiteral("/usr/local/bin/ideviceinstaller")});
}

std::optional<QString> ideviceID()
{
    return lookup(QStringLiteral("idevice_id"),
                  {QStringLiteral("/opt/homebrew/bin/idevice_id"), QStringLiteral("/usr/local/bin/idevice_id")});
}

std::optional<QString> ideviceinfo()
{
    return lookup(QStringLiteral("ideviceinfo"),
                  {QStringLiteral("/opt/homebrew/bin/ideviceinfo"), QStringLiteral("/usr/local/bin/ideviceinfo")});
}

std::optional<QString> usbmuxd()
{
    return candidates(QStringLiteral("usbmuxd"),
                      {QStringLiteral("/usr/sbin/usbmuxd"), QStringLiteral("/sbin/usbmuxd"),
                       QStringLiteral("/usr/local/sbin/usbmuxd"), QStringLiteral("/usr/bin/usbmuxd")});
}

QString supportDirectory()
{
    std::optional<QString> redirected;
    {
        QMutexLocker lock(&redirections().mutex);
        redirected = redirections().supportDirectory;
    }
    return ensured(redirected ? *redirected
                              : QDir(Platform::applicationSupportBase()).filePath(QStringLiteral("Quorrel")));
}

QString downloadsDirectory()
{
    return ensured(QDir(supportDirectory()).filePath(QStringLiteral("IPA")));
}

QString cacheDirectory()
{
    return ensured(QDir(supportDirectory()).filePath(QStringLiteral("Cache")));
}

std::optional<QString> resourceDirectory()
{
    {
        QMutexLocker lock(&redirections().mutex);
        if (redirections().resourceDirectory)
            return redirections().resourceDirectory;
    }
    return Platform::bundleResourceDirectory();
}

void setResourceDirectory(std::optional<QString> path)
{
    QMutexLocker lock(&redirections().mutex);
    redirections().resourceDirectory = std::move(path);
}

void setSupportDirectory(std::optional<QString> path)
{
    QMutexLocker lock(&redirections().mutex);
    redirections().supportDirectory = std::move(path);
}

void setSystemToolsSearched(bool searched)
{
    QMutexLocker lock(&redirections().mutex);
    redirections().systemToolsSearched = searched;
}

} // namespace Tools
