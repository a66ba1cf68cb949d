#include "model/AppModel.h"

#include "common/AppError.h"
#include "platform/Platform.h"
#include "process/Tools.h"
#include "store/IPAToolError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <algorithm>
#include <cstdio>

namespace {

QString ipaSuffix()
{
    return QStringLiteral(".ipa");
}

// Each run writes under a name of its own and only a finished download takes the final one, so
// a partial file is never later taken for a downloaded app and no run can touch another's bytes.
QString partialPath(const QString& destination)
{
    return destination + QLatin1Char('.') + QString::number(QRandomGenerator::global()->generate64(), 36)
           + QStringLiteral(".part");
}

// What earlier runs for this file may have left: our own partial files and ipatool's ".tmp"
// beside them or beside the file itself, which it would otherwise resume whatever build it
// belongs to.
void removeLeftovers(const QString& destination)
{
    const QFileInfo target(destination);
    const QString prefix = target.fileName() + QLatin1Char('.');
    const QStringList names = target.absoluteDir().entryList(QDir::Files | QDir::Hidden, QDir::Unsorted);
    for (const QString& name : names) {
        if (name.startsWith(prefix)
            && (name.endsWith(QLatin1String(".part")) || name.endsWith(QLatin1String(".part.tmp"))
                || name == prefix + QLatin1String("tmp")))
            QFile::remove(target.absoluteDir().filePath(name));
    }
}

// A failed licence request is not worth the advice to request the licence.
QString licenceFailure(const std::exception& error)
{
    const auto* toolError = dynamic_cast<const IPAToolError*>(&error);
    if (toolError && toolError->kind() == IPAToolError::Kind::licenseRequired)
        return QStringLiteral("Не удалось получить лицензию на это приложение");
    if (toolError && toolError->kind() == IPAToolError::Kind::message)
        return QStringLiteral("Не удалось получить лицензию: ") + toolError->description();
    return AppError::describe(error, QStringLiteral("Не удалось получить лицензию"));
}

QString textBeforeUnderscore(const QString& name)
{
    const qsizetype underscore = name.indexOf(QLatin1Char('_'));
    return underscore < 0 ? name : name.left(underscore);
}

} // namespace

void AppModel::setActivity(qint64 appID, AppActivity activity)
{
    const auto current = m_activities.constFind(appID);
    if (current != m_activities.cend() && *current == activity)
        return;
    m_activities.insert(appID, std::move(activity));
    Q_EMIT activitiesChanged();
}

QString AppModel::fileURL(const Target& target, const std::optional<AppVersion>& version)
{
    const QString base =
        target.bundleID.isEmpty() ? QStringLiteral("app-") + QString::number(target.adamID) : target.bundleID;
    const QString versionPart =
        version ? version->displayVersion.value_or(version->externalID) : QStringLiteral("latest");
    QString stem = base + QLatin1Char('_') + versionPart;
    stem.replace(QLatin1Char('/'), QLatin1Char('-')).replace(QLatin1Char(' '), QLatin1Char('_'));
    return QDir(Tools::downloadsDirectory()).filePath(stem + ipaSuffix());
}

QCoro::Task<std::optional<QString>> AppModel::download(PurchasedApp app, std::optional<AppVersion> version)
{
    co_return co_await download(Target::from(app), std::move(version));
}

QCoro::Task<std::optional<QString>> AppModel::download(Target target, std::optional<AppVersion> version)
{
    const QString destination = fileURL(target, version);
    const QString key = Operations::fileKey(destination);
    if (m_operations.isRunning(key)) {
        // The file is on its way already: share that run's outcome rather than fetch it twice.
        co_await m_operations.finished(key);
        if (QFileInfo(destination).isFile())
            co_return destination;
        co_return std::nullopt;
    }
    if (QFileInfo(destination).isFile()) {
        note(target.name + QStringLiteral(": файл уже скачан"));
        QSet<QString> downloaded = m_downloadedBundleIDs;
        downloaded.insert(target.bundleID);
        setDownloadedBundleIDs(std::move(downloaded));
        co_return destination;
    }

    const Operations::Ticket ticket = *m_operations.begin(key, target.adamID);
    removeLeftovers(destination);
    // The store's size is of its current build only, so an older version runs without one.
    const qint64 total = version ? 0 : m_artwork.fileSize(target.adamID).value_or(0);
    setActivity(target.adamID, AppActivity::downloading(0, total));
    const QString partial = partialPath(destination);
    std::optional<QString> failure;
    bool purchasing = false;
    m_rateLimitedDownloads.remove(target.adamID);
    try {
        try {
            const QString written = co_await performDownload(target, version, partial, false, ticket.cancel());
            co_return finishDownload(target, destination, written);
        } catch (const IPAToolError& error) {
            if (error.kind() != IPAToolError::Kind::licenseRequired || !target.isFree)
                throw;
        }
        note(target.name + QStringLiteral(": получаю лицензию…"));
        removeLeftovers(destination);
        purchasing = true;
        const QString written = co_await performDownload(target, version, partial, true, ticket.cancel());
        purchasing = false;
        co_return finishDownload(target, destination, written);
    } catch (const std::exception& error) {
        if (!isCancellation(error))
            failure =
                purchasing ? licenceFailure(error) : AppError::describe(error, QStringLiteral("Загрузка не удалась"));
        const auto* toolError = dynamic_cast<const IPAToolError*>(&error);
        if (toolError && toolError->kind() == IPAToolError::Kind::rateLimited)
            m_rateLimitedDownloads.insert(target.adamID);
    }
    removeLeftovers(destination);
    if (!failure) {
        setActivity(target.adamID, {});
        note(target.name + QStringLiteral(": загрузка отменена"));
        co_return std::nullopt;
    }
    setActivity(target.adamID, AppActivity::failed(*failure));
    fail(target.name + QStringLiteral(": ") + *failure);
    co_return std::nullopt;
}

QCoro::Task<QString> AppModel::performDownload(Target target, std::optional<AppVersion> version, QString destination,
                                               bool purchase, CancelHandle cancel)
{
    QPointer<AppModel> self(this);
    const qint64 appID = target.adamID;
    // A late report must never overwrite the download's final state.
    const auto onBytes = [self, appID](qint64 bytes) {
        if (!self)
            return;
        const AppActivity current = self->activity(appID);
        if (current.kind == AppActivity::Kind::downloading)
            self->setActivity(appID, AppActivity::downloading(bytes, current.total));
    };
    const std::optional<QString> externalID =
        version ? std::optional<QString>(version->externalID) : std::optional<QString>();
    co_return co_await m_ipatool.download(appID, externalID, destination, purchase, onBytes, cancel);
}

QString AppModel::finishDownload(const Target& target, const QString& destination, const QString& written)
{
    // The tool's word for where the file is wins; it becomes the final name only once complete.
    if (!QFileInfo(written).isFile())
        throw IPAToolError(IPAToolError::Kind::message,
                           QStringLiteral("ipatool сообщил об успехе, но файла нет: ") + written);
    // One step that replaces whatever is there, so the final name never holds half a file.
    const bool moved =
        std::rename(QFile::encodeName(written).constData(), QFile::encodeName(destination).constData()) == 0;
    const QString path = moved ? destination : written;
    if (moved)
        removeLeftovers(destination);
    setActivity(target.adamID, AppActivity::done(QStringLiteral("Скачано")));
    QSet<QString> downloaded = m_downloadedBundleIDs;
    downloaded.insert(target.bundleID);
    setDownloadedBundleIDs(std::move(downloaded));
    note(target.name + QStringLiteral(": скачано в ") + QFileInfo(path).fileName());
    rememberKnown(target, KnownApp::downloadSource());
    return path;
}

void AppModel::refreshDownloadedSet()
{
    QSet<QString> ids;
    const QStringList names = QDir(Tools::downloadsDirectory()).entryList(QDir::Files);
    for (const QString& name : names) {
        if (name.endsWith(ipaSuffix(), Qt::CaseSensitive))
            ids.insert(textBeforeUnderscore(name));
    }
    setDownloadedBundleIDs(std::move(ids));
}

QList<LocalIPA> AppModel::localFiles() const
{
    struct Listed {
        LocalIPA file;
        QDateTime modified;
    };
    QList<Listed> listed;
    const QFileInfoList entries = QDir(Tools::downloadsDirectory()).entryInfoList(QDir::Files);
    const QDateTime now = QDateTime::currentDateTime();
    for (const QFileInfo& entry : entries) {
        if (entry.suffix() != QLatin1String("ipa"))
            continue;
        const QString stem = entry.completeBaseName();
        const QDateTime modified = entry.lastModified().isValid() ? entry.lastModified() : now;
        QDateTime created = entry.birthTime();
        if (!created.isValid())
            created = modified;
        listed.append({LocalIPA{entry.absoluteFilePath(), std::nullopt, textBeforeUnderscore(stem), stem, std::nullopt,
                                entry.size(), created},
                       modified});
    }
    // Birth times share a clock tick when files are made together, so they alone leave the
    // order to chance.
    std::sort(listed.begin(), listed.end(), [](const Listed& a, const Listed& b) {
        if (a.file.createdAt != b.file.createdAt)
            return a.file.createdAt > b.file.createdAt;
        if (a.modified != b.modified)
            return a.modified > b.modified;
        return a.file.path < b.file.path;
    });
    QList<LocalIPA> files;
    files.reserve(listed.size());
    for (Listed& entry : listed)
        files.append(std::move(entry.file));
    return files;
}

void AppModel::deleteFile(const QString& path)
{
    Platform::moveToTrash(path);
}

bool AppModel::revealInFinder(const QString& path)
{
    return Platform::revealInFileBrowser(path);
}
