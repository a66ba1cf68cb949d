#include "update/Updater.h"

#include "BuildConfig.h"
#include "common/AtomicFile.h"
#include "common/PlistRead.h"
#include "common/SystemError.h"
#include "platform/Platform.h"
#include "process/ProcessRunner.h"
#include "process/ToolError.h"
#include "update/UpdateError.h"
#include "update/UpdateSignature.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QUuid>
#include <QtConcurrent/QtConcurrentRun>

#include <QCoroFuture>
#include <QCoroNetworkReply>

#include <unistd.h>

#include <algorithm>

namespace {

/// The bundle's Info.plist when it reads as a dictionary, in any of the property-list encodings.
std::optional<PlistRead::Document> infoDictionary(const QString& bundle)
{
    const auto bytes = AtomicFile::read(QDir(bundle).filePath(QStringLiteral("Contents/Info.plist")), 16 * 1024 * 1024);
    if (!bytes)
        return std::nullopt;
    return PlistRead::dictionary(*bytes);
}

QNetworkRequest manifestRequest(const QUrl& url)
{
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setTransferTimeout(static_cast<int>(std::chrono::milliseconds(Updater::manifestTimeout).count()));
    return request;
}

QNetworkRequest archiveRequest(const QUrl& url)
{
    QNetworkRequest request(url);
    request.setTransferTimeout(static_cast<int>(std::chrono::milliseconds(Updater::downloadTimeout).count()));
    return request;
}

// Any answer but 200 is the server's fault; a transfer that broke off is the network's.
void checkAnswer(const QNetworkReply& reply)
{
    const QVariant status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (status.isValid() && status.toInt() != 200)
        throw UpdateError(UpdateError::Kind::badManifest);
    if (reply.error() != QNetworkReply::NoError)
        throw SystemError(reply.errorString());
    if (!status.isValid())
        throw UpdateError(UpdateError::Kind::badManifest);
}

std::unique_ptr<QTemporaryFile> newDownloadFile()
{
    auto file =
        std::make_unique<QTemporaryFile>(QDir(QDir::tempPath()).filePath(QStringLiteral("quorrel-download-XXXXXX")));
    if (!file->open())
        throw SystemError(QStringLiteral("Не удалось создать временный файл: ") + file->errorString());
    return file;
}

void drain(QNetworkReply& reply, QFile& file, bool& failed)
{
    const QByteArray chunk = reply.readAll();
    if (!failed && file.write(chunk) != chunk.size())
        failed = true;
}

QMetaObject::Connection streamInto(QNetworkReply& reply, QFile& file, bool& failed)
{
    return QObject::connect(&reply, &QIODevice::readyRead, &reply,
                            [reply = &reply, file = &file, failed = &failed] { drain(*reply, *file, *failed); });
}

void finishArchive(QTemporaryFile& file, bool failed)
{
    if (failed || !file.flush())
        throw SystemError(QStringLiteral("Не удалось записать ") + file.fileName() + QStringLiteral(": ")
                          + file.errorString());
    file.close();
}

std::optional<QString> sha256Hex(QString path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!hash.addData(&file))
        return std::nullopt;
    return QString::fromLatin1(hash.result().toHex());
}

void checkDigest(const std::optional<QString>& digest, const QString& path, const QString& expected)
{
    if (!digest)
        throw SystemError(QStringLiteral("Не удалось прочитать ") + path);
    if (*digest != expected)
        throw UpdateError(UpdateError::Kind::checksumMismatch);
}

void report(const Updater::ProgressHandler& onProgress, double fraction)
{
    if (onProgress)
        onProgress(fraction);
}

// Each install gets a folder of its own, made fresh under a new name only we can enter: a second
// install can never wipe the first one's bundle, and nobody sharing the temporary folder can
// place a folder or a link there to change the bundle after it was checked.
QString prepareWorkFolder(qint64 build)
{
    QTemporaryDir folder(Updater::workFolderPrefix(build) + QStringLiteral("XXXXXX"));
    if (!folder.isValid())
        throw SystemError(QStringLiteral("Не удалось создать папку ") + folder.path());
    folder.setAutoRemove(false);
    return folder.path();
}

QString placeArchive(QTemporaryFile& download, const QString& work)
{
    const QString archive = QDir(work).filePath(QStringLiteral("update.zip"));
    if (!QFile::rename(download.fileName(), archive))
        throw SystemError(QStringLiteral("Не удалось переместить архив в ") + archive);
    download.setAutoRemove(false);
    return archive;
}

QString makeUnpackFolder(const QString& work)
{
    const QString folder = QDir(work).filePath(QStringLiteral("unpacked"));
    if (!QDir().mkdir(folder))
        throw SystemError(QStringLiteral("Не удалось создать папку ") + folder);
    return folder;
}

struct UnzipCommand {
    QString program;
    QStringList arguments;
    QString tool;
};

UnzipCommand unzipCommand(const QString& archive, const QString& folder)
{
    if (Platform::isLinux()) {
        // Without -P bsdtar refuses "..", links it would extract through, and strips leading "/".
        QString program = QStandardPaths::findExecutable(QStringLiteral("bsdtar"));
        if (program.isEmpty())
            program = QStringLiteral("/usr/bin/bsdtar");
        return {program,
                {QStringLiteral("-x"), QStringLiteral("-f"), archive, QStringLiteral("-C"), folder},
                QStringLiteral("bsdtar")};
    }
    return {QStringLiteral("/usr/bin/ditto"),
            {QStringLiteral("-x"), QStringLiteral("-k"), archive, folder},
            QStringLiteral("ditto")};
}

void checkUnpacked(const ProcessOutput& output, const QString& tool)
{
    if (output.status != 0)
        throw ToolError(tool, output.status, output.standardError());
}

} // namespace

Updater::Updater(Options options)
    : m_manifestUrl(options.manifestUrl ? *options.manifestUrl
                                        : QUrl(QString::fromUtf8(BuildConfig::updateManifestUrl)))
    , m_bundlePath(options.bundlePath ? options.bundlePath : Platform::bundlePath())
    , m_quit(std::move(options.quit))
    , m_processID(options.processID)
    , m_version(QStringLiteral("0"))
    , m_publicKey(options.publicKey ? options.publicKey : UpdateSignature::buildKey())
{
    if (!m_bundlePath)
        return;
    const auto info = infoDictionary(*m_bundlePath);
    if (!info)
        return;
    m_version = PlistRead::string(info->get(), "CFBundleShortVersionString").value_or(m_version);
    m_build = parseBuild(PlistRead::string(info->get(), "CFBundleVersion").value_or(QStringLiteral("0")));
    m_identifier = PlistRead::string(info->get(), "CFBundleIdentifier");
}

Updater::~Updater() = default;

QCoro::Task<UpdateInfo> Updater::fetchLatest()
{
    const std::unique_ptr<QNetworkReply> reply(m_network.get(manifestRequest(m_manifestUrl)));
    co_await reply.get();
    checkAnswer(*reply);
    const std::optional<UpdateInfo> info = UpdateInfo::fromManifest(reply->readAll());
    if (!info)
        throw UpdateError(UpdateError::Kind::badManifest);
    co_return *info;
}

QCoro::Task<std::optional<UpdateInfo>> Updater::checkForUpdate()
{
    UpdateInfo latest = co_await fetchLatest();
    if (latest.build > m_build)
        co_return latest;
    co_return std::nullopt;
}

QCoro::Task<std::unique_ptr<QTemporaryFile>> Updater::fetchArchive(QUrl url)
{
    std::unique_ptr<QTemporaryFile> file = newDownloadFile();
    bool failed = false;
    const std::unique_ptr<QNetworkReply> reply(m_network.get(archiveRequest(url)));
    streamInto(*reply, *file, failed);
    co_await reply.get();
    drain(*reply, *file, failed);
    checkAnswer(*reply);
    finishArchive(*file, failed);
    co_return file;
}

QCoro::Task<QString> Updater::download(UpdateInfo info, ProgressHandler onProgress)
{
    if (!m_publicKey)
        throw UpdateError(UpdateError::Kind::unsignedBuild);
    if (info.signature.trimmed().isEmpty())
        throw UpdateError(UpdateError::Kind::missingSignature);
    const std::unique_ptr<QTemporaryFile> archive = co_await fetchArchive(info.url);
    report(onProgress, 0.6);

    const QString downloaded = archive->fileName();
    const std::optional<QString> digest = co_await QtConcurrent::run(&sha256Hex, downloaded);
    checkDigest(digest, downloaded, info.sha256);
    if (!co_await QtConcurrent::run(&UpdateSignature::verifyFile, downloaded, info.signature, *m_publicKey))
        throw UpdateError(UpdateError::Kind::badSignature);
    report(onProgress, 0.75);

    const QString work = prepareWorkFolder(info.build);
    const QString zip = placeArchive(*archive, work);
    const QString unpacked = makeUnpackFolder(work);
    co_await unpack(zip, unpacked);
    report(onProgress, 0.9);

    QString bundle = verifiedBundle(unpacked);
    report(onProgress, 1.0);
    co_return bundle;
}

QCoro::Task<> Updater::unpack(QString archive, QString folder)
{
    const UnzipCommand command = unzipCommand(archive, folder);
    const ProcessOutput output = co_await ProcessRunner::run(command.program, command.arguments);
    checkUnpacked(output, command.tool);
}

QString Updater::verifiedBundle(const QString& folder) const
{
    const QFileInfoList entries = QDir(folder).entryInfoList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Unsorted);
    // A link would make the swap copy whatever it points at, outside what was unpacked.
    const auto found = std::find_if(entries.cbegin(), entries.cend(), [](const QFileInfo& entry) {
        return entry.suffix() == QLatin1String("app") && entry.isDir() && !entry.isSymLink();
    });
    if (found == entries.cend())
        throw UpdateError(UpdateError::Kind::notAnApp);
    const QString bundle = found->absoluteFilePath();
    const auto info = infoDictionary(bundle);
    if (!info || PlistRead::string(info->get(), "CFBundleIdentifier") != m_identifier)
        throw UpdateError(UpdateError::Kind::notAnApp);
    return bundle;
}

void Updater::installAndRestart(const QString& newApp)
{
    const QString app = m_bundlePath.value_or(QCoreApplication::applicationFilePath());
    const QString parent = QFileInfo(app).absolutePath();
    if (!m_bundlePath || ::access(QFile::encodeName(parent).constData(), W_OK) != 0)
        throw UpdateError(UpdateError::Kind::cannotReplace, app);

    const QString script =
        QDir(QDir::tempPath())
            .filePath(QStringLiteral("quorrel-swap-") + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper()
                      + QStringLiteral(".sh"));
    const qint64 pid = m_processID.value_or(QCoreApplication::applicationPid());
    if (!AtomicFile::write(script, swapScript(pid, app, newApp).toUtf8()))
        throw SystemError(QStringLiteral("Не удалось записать ") + script);
    if (!QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup
                                           | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther))
        throw SystemError(QStringLiteral("Не удалось сделать исполняемым ") + script);

    QProcess bash;
    bash.setProgram(QStringLiteral("/bin/bash"));
    bash.setArguments({script});
    bash.setStandardInputFile(QProcess::nullDevice());
    bash.setStandardOutputFile(QProcess::nullDevice());
    bash.setStandardErrorFile(QProcess::nullDevice());
    if (!bash.startDetached())
        throw SystemError(QStringLiteral("Не удалось запустить /bin/bash: ") + bash.errorString());

    if (m_quit)
        m_quit();
    else
        QCoreApplication::quit();
}

qint64 Updater::parseBuild(const QString& text)
{
    static const QRegularExpression whole(QStringLiteral("^[+-]?[0-9]+$"));
    if (!whole.match(text).hasMatch())
        return 0;
    bool ok = false;
    const qint64 value = text.toLongLong(&ok, 10);
    return ok ? value : 0;
}

QString Updater::shellQuoted(const QString& text)
{
    QString quoted = text;
    quoted.replace(QLatin1Char('\''), QStringLiteral("'\\''"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

QString Updater::swapScript(qint64 processID, const QString& app, const QString& newApp)
{
    const QString quotedApp = shellQuoted(app);
    const QString quotedOld = shellQuoted(app + QStringLiteral(".old"));
    const QString quotedNew = shellQuoted(newApp);
    // cp -T copies onto the target itself even when it is still there, as ditto does.
    const QString copy = Platform::isLinux() ? QStringLiteral("cp -a -T ") + quotedNew + QLatin1Char(' ') + quotedApp
                                             : QStringLiteral("ditto ") + quotedNew + QLatin1Char(' ') + quotedApp;
    const QString launch = Platform::isLinux()
                               ? shellQuoted(app + QStringLiteral("/Contents/MacOS/Quorrel")) + QStringLiteral(" &")
                               : QStringLiteral("open ") + quotedApp;
    const QStringList lines{
        QStringLiteral("#!/bin/bash"),
        QStringLiteral("set -e"),
        QStringLiteral("# ждём, пока старая копия закроется"),
        QStringLiteral("for _ in $(seq 1 100); do"),
        QStringLiteral("    kill -0 ") + QString::number(processID) + QStringLiteral(" 2>/dev/null || break"),
        QStringLiteral("    sleep 0.1"),
        QStringLiteral("done"),
        QStringLiteral("rm -rf ") + quotedOld,
        QStringLiteral("mv ") + quotedApp + QLatin1Char(' ') + quotedOld + QStringLiteral(" 2>/dev/null || true"),
        copy,
        QStringLiteral("xattr -dr com.apple.quarantine ") + quotedApp + QStringLiteral(" 2>/dev/null || true"),
        QStringLiteral("rm -rf ") + quotedOld,
        launch,
        QStringLiteral("rm -f \"$0\""),
    };
    return lines.join(QLatin1Char('\n'));
}

QString Updater::workFolderPrefix(qint64 build)
{
    return QDir(QDir::tempPath())
        .filePath(QStringLiteral("quorrel-update-") + QString::number(build) + QLatin1Char('-'));
}
