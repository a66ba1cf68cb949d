#include "platform/Platform.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QSysInfo>
#include <QUrl>

#if !defined(Q_OS_MACOS)
#include <QDBusConnection>
#include <QDBusMessage>
#endif

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

QString logDirectory()
{
#if defined(Q_OS_MACOS)
    return QDir::home().filePath(QStringLiteral("Library/Logs/Quorrel"));
#else
    // Qt 6.4 has no state location yet; a relative XDG path is to be ignored, as the XDG rules say.
    QString base = qEnvironmentVariable("XDG_STATE_HOME");
    if (base.isEmpty() || QDir::isRelativePath(base))
        base = QDir::home().filePath(QStringLiteral(".local/state"));
    return QDir(base).filePath(QStringLiteral("Quorrel"));
#endif
}

QString description()
{
    return QSysInfo::prettyProductName() + QStringLiteral(", ") + QSysInfo::kernelType() + QLatin1Char(' ')
           + QSysInfo::kernelVersion() + QStringLiteral(", ") + QSysInfo::currentCpuArchitecture();
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

std::unique_ptr<QSettings> preferences()
{
    const QString organization = QStringLiteral("Quorrel");
#if defined(Q_OS_MACOS)
    return std::make_unique<QSettings>(organization, QStringLiteral("Quorrel"));
#else
    // Where QSettings itself would put them for the application's names.
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return std::make_unique<QSettings>(QDir(base).filePath(organization + QStringLiteral("/Quorrel.conf")),
                                       QSettings::IniFormat);
#endif
}

bool moveToTrash(const QString& path)
{
#if !defined(Q_OS_MACOS)
    // Qt will not create the data folder that holds the Trash, and without it moves the file into
    // "files/" under the current directory instead of failing.
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (data.isEmpty() || !QDir().mkpath(data))
        return false;
#endif
    return QFile::moveToTrash(path);
}

bool revealInFileBrowser(const QString& path)
{
    const QUrl url = QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath());
#if defined(Q_OS_MACOS)
    return QProcess::startDetached(QStringLiteral("/usr/bin/open"), {QStringLiteral("-R"), url.toLocalFile()});
#else
    // The freedesktop file-manager interface selects the item; without it, open the folder.
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << QStringList{url.toString()} << QString();
    const QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::Block, 2000);
    if (reply.type() == QDBusMessage::ReplyMessage)
        return true;
    const QFileInfo info(path);
    return QDesktopServices::openUrl(QUrl::fromLocalFile(info.isDir() ? info.absoluteFilePath() : info.absolutePath()));
#endif
}

void notify(const QString& title, const QString& body)
{
#if defined(Q_OS_MACOS)
    Q_UNUSED(title);
    Q_UNUSED(body);
#else
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    call << QStringLiteral("Quorrel") << uint(0) << QStringLiteral("quorrel") << title << body << QStringList()
         << QVariantMap() << int(-1);
    bus.send(call);
#endif
}

} // namespace Platform
