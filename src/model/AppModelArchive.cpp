#include "model/AppModel.h"

#include "common/RussianText.h"
#include "platform/Platform.h"

#include <QFileInfo>

namespace {

const QString searchSource = QStringLiteral("поиск");

bool isBusy(const AppActivity& activity)
{
    return activity.kind == AppActivity::Kind::downloading || activity.kind == AppActivity::Kind::installing
           || activity.kind == AppActivity::Kind::fetchingVersions;
}

QString queueSummary(int saved, int failed)
{
    QString text = QStringLiteral("Сохранено ") + RussianText::apps(saved);
    if (failed > 0)
        text += QStringLiteral(", не удалось скачать ") + QString::number(failed);
    return text;
}

} // namespace

void AppModel::setUpArchive()
{
    m_artwork.setRefresh(ArtworkService::Refresh{std::chrono::hours(24), 500});
    m_queue.setDownload([this](ArchiveQueue::Item item) { return downloadQueued(std::move(item)); });
    connect(&m_queue, &ArchiveQueue::changed, this, &AppModel::queueChanged);
    connect(&m_queue, &ArchiveQueue::queuedChanged, this, &AppModel::setQueued);
    connect(&m_queue, &ArchiveQueue::finished, this, [this](int saved, int failed) {
        const QString summary = queueSummary(saved, failed);
        note(QStringLiteral("Очередь скачивания завершена: ") + summary);
        Platform::notify(QStringLiteral("Очередь скачивания завершена"), summary);
    });
    // The queue follows the account: it resumes for the one who left it, never for another.
    connect(this, &AppModel::accountChanged, this, [this] {
        const QString email = m_account ? m_account->email : QString();
        if (email == m_queue.account())
            return;
        if (email.isEmpty()) {
            m_queue.close();
            m_newlyGone.clear();
            Q_EMIT newlyGoneChanged();
        } else {
            m_queue.open(email);
        }
    });
    connect(&m_ipaInspector, &IpaInspector::changed, this, &AppModel::ipaInfoChanged);
    connect(this, &AppModel::downloadedBundleIDsChanged, this, [this] { inspectFiles(localFiles()); });
    // The store is asked about the phone's apps on the account's behalf, so only while signed in.
    connect(this, &AppModel::installedAppsChanged, this, [this] {
        if (m_account && !m_installedApps.isEmpty())
            lookUpPhoneApps();
    });
}

int AppModel::queueDownloads(const QList<Target>& targets)
{
    QList<ArchiveQueue::Item> items;
    for (const Target& target : targets) {
        const bool saved = target.bundleID.isEmpty() ? QFileInfo(fileURL(target, std::nullopt)).isFile()
                                                     : m_downloadedBundleIDs.contains(target.bundleID);
        if (saved)
            continue;
        ArchiveQueue::Item item;
        item.adamID = target.adamID;
        item.bundleID = target.bundleID;
        item.name = target.name;
        item.isFree = target.isFree;
        items.append(std::move(item));
    }
    const int added = m_queue.enqueue(items);
    if (added > 0)
        note(QStringLiteral("В очередь скачивания: ") + RussianText::apps(added));
    return added;
}

int AppModel::saveGoneApps()
{
    QList<Target> targets;
    for (const PurchasedApp& app : std::as_const(m_apps)) {
        if (app.isGoneFromStore())
            targets.append(Target::from(app));
    }
    return queueDownloads(targets);
}

int AppModel::saveLibrary()
{
    QList<Target> targets;
    targets.reserve(m_apps.size());
    for (const PurchasedApp& app : std::as_const(m_apps))
        targets.append(Target::from(app));
    return queueDownloads(targets);
}

int AppModel::saveNewlyGone()
{
    const QSet<qint64> wanted(m_newlyGone.cbegin(), m_newlyGone.cend());
    QList<Target> targets;
    for (const PurchasedApp& app : std::as_const(m_apps)) {
        if (wanted.contains(app.id))
            targets.append(Target::from(app));
    }
    dismissNewlyGone();
    return queueDownloads(targets);
}

int AppModel::saveUnsavedPhoneApps()
{
    QHash<qint64, const PurchasedApp*> library;
    for (const PurchasedApp& app : std::as_const(m_apps))
        library.insert(app.id, &app);
    QList<Target> targets;
    for (const InstalledApp& app : std::as_const(m_installedApps)) {
        if (!isAtRisk(app))
            continue;
        const PurchasedApp* purchased = library.value(*app.adamID);
        targets.append(purchased ? Target::from(*purchased) : Target{*app.adamID, app.bundleID, app.name, true});
    }
    return queueDownloads(targets);
}

void AppModel::pauseQueue()
{
    m_queue.pause();
}

void AppModel::resumeQueue()
{
    m_queue.resume();
}

void AppModel::cancelQueue()
{
    if (m_queue.isEmpty())
        return;
    // The queue lets go first, so the downloads it stops are not taken for failures.
    const QList<qint64> running = m_queue.runningApps();
    m_queue.cancel();
    for (const qint64 appID : running)
        m_operations.cancelApp(appID);
    note(QStringLiteral("Очередь скачивания отменена"));
}

void AppModel::setQueued(const QList<qint64>& appIDs, bool queued)
{
    // One signal for the lot: a whole library may join the queue at once.
    bool changed = false;
    for (const qint64 appID : appIDs) {
        const AppActivity current = m_activities.value(appID);
        if (queued && !isBusy(current) && current.kind != AppActivity::Kind::queued) {
            m_activities.insert(appID, AppActivity::queued());
            changed = true;
        } else if (!queued && current.kind == AppActivity::Kind::queued) {
            m_activities.insert(appID, AppActivity{});
            changed = true;
        }
    }
    if (changed)
        Q_EMIT activitiesChanged();
}

QCoro::Task<ArchiveQueue::Outcome> AppModel::downloadQueued(ArchiveQueue::Item item)
{
    const Target target{item.adamID, item.bundleID, item.name, item.isFree};
    const std::optional<QString> path = co_await download(target, std::nullopt);
    const AppActivity after = activity(target.adamID);
    if (path) {
        // A file that was already there leaves the activity alone.
        if (after.kind == AppActivity::Kind::queued)
            setActivity(target.adamID, AppActivity::done(QStringLiteral("Скачано")));
        co_return ArchiveQueue::Outcome{ArchiveQueue::Outcome::Kind::saved, {}};
    }
    if (after.kind != AppActivity::Kind::failed)
        co_return ArchiveQueue::Outcome{ArchiveQueue::Outcome::Kind::dropped, {}};
    if (m_rateLimitedDownloads.contains(target.adamID))
        co_return ArchiveQueue::Outcome{ArchiveQueue::Outcome::Kind::rateLimited, after.text};
    co_return ArchiveQueue::Outcome{ArchiveQueue::Outcome::Kind::failed, after.text};
}

void AppModel::observeLookup(const QHash<qint64, ArtworkService::Info>& answers, const QDateTime& asked)
{
    QList<DelistingRadar::Sighting> sightings;
    for (auto answer = answers.cbegin(); answer != answers.cend(); ++answer) {
        if (const auto checked = m_artwork.checkedAt(answer.key()); checked && *checked >= asked)
            sightings.append({answer.key(), answer->artworkURL.has_value(), *checked});
    }
    const QList<qint64> vanished = m_radar.observe(sightings);
    if (!vanished.isEmpty()) {
        m_newlyGone = vanished;
        note(RussianText::apps(vanished.size())
             + RussianText::plural(vanished.size(), QStringLiteral(" пропало"), QStringLiteral(" пропали"),
                                   QStringLiteral(" пропали"))
             + QStringLiteral(" из App Store с прошлой проверки"));
        Q_EMIT newlyGoneChanged();
    }
    Q_EMIT radarChanged();
    notePhoneAnswers(answers);
}

void AppModel::notePhoneAnswers(const QHash<qint64, ArtworkService::Info>& answers)
{
    // Phone apps share the answers: what left the store left it on the phone too.
    bool phoneChanged = false;
    for (const InstalledApp& app : std::as_const(m_installedApps)) {
        if (!app.adamID)
            continue;
        const auto answer = answers.constFind(*app.adamID);
        if (answer == answers.cend())
            continue;
        const bool gone = !answer->artworkURL;
        if (gone == m_phoneGone.contains(*app.adamID))
            continue;
        if (gone)
            m_phoneGone.insert(*app.adamID);
        else
            m_phoneGone.remove(*app.adamID);
        phoneChanged = true;
    }
    if (phoneChanged)
        Q_EMIT phoneStoreStatusChanged();
}

void AppModel::dismissNewlyGone()
{
    if (m_newlyGone.isEmpty())
        return;
    m_newlyGone.clear();
    Q_EMIT newlyGoneChanged();
}

void AppModel::inspectFiles(const QList<LocalIPA>& files)
{
    QStringList paths;
    paths.reserve(files.size());
    for (const LocalIPA& file : files)
        paths.append(file.path);
    m_ipaInspector.request(paths);
}

bool AppModel::isAtRisk(const InstalledApp& app) const
{
    return app.adamID && m_phoneGone.contains(*app.adamID) && !m_downloadedBundleIDs.contains(app.bundleID);
}

std::optional<QString> AppModel::iosMismatch(const IpaInfo& info, const Device& device)
{
    if (!info.minimumOS || !device.iosVersion || device.iosVersion->isEmpty()
        || IpaInspector::compareVersions(*info.minimumOS, *device.iosVersion) <= 0)
        return std::nullopt;
    return QStringLiteral("Нужна iOS ") + *info.minimumOS + QStringLiteral(" или новее, а на ") + device.name
           + QStringLiteral(" — iOS ") + *device.iosVersion + QStringLiteral(": выбери версию постарше");
}

QCoro::Task<bool> AppModel::fitsDevice(QString path, Device device, std::optional<Target> target)
{
    if (!device.iosVersion)
        co_return true;
    const IpaInfo info = co_await m_ipaInspector.read(path);
    const std::optional<QString> problem = iosMismatch(info, device);
    if (!problem)
        co_return true;
    std::optional<Target> suggested = target;
    if (!suggested && info.appID) {
        const auto known = std::find_if(m_apps.cbegin(), m_apps.cend(),
                                        [&](const PurchasedApp& app) { return app.id == *info.appID; });
        suggested = known != m_apps.cend()
                        ? Target::from(*known)
                        : Target{*info.appID, info.bundleID.value_or(QString()),
                                 info.displayName.value_or(QFileInfo(path).completeBaseName()), true};
    }
    if (target)
        setActivity(target->adamID, AppActivity::failed(*problem));
    fail((target ? target->name : QFileInfo(path).fileName()) + QStringLiteral(": ") + *problem);
    if (suggested)
        Q_EMIT olderVersionSuggested(*suggested);
    co_return false;
}

QCoro::Task<> AppModel::lookUpPhoneApps()
{
    QStringList unknown;
    QList<qint64> ids;
    for (const InstalledApp& app : std::as_const(m_installedApps)) {
        if (app.adamID)
            ids.append(*app.adamID);
        else if (!app.bundleID.isEmpty())
            unknown.append(app.bundleID);
    }
    if (!unknown.isEmpty()) {
        const QHash<QString, qint64> found = co_await m_artwork.appIDs(unknown);
        if (!found.isEmpty()) {
            QList<KnownApp> learned;
            QList<InstalledApp> apps = m_installedApps;
            const QDateTime now = QDateTime::currentDateTime();
            for (InstalledApp& app : apps) {
                const auto id = found.constFind(app.bundleID);
                if (app.adamID || id == found.cend())
                    continue;
                app.adamID = *id;
                ids.append(*id);
                learned.append(KnownApp{*id, app.bundleID, app.name, searchSource, now});
            }
            m_knownStore.merge(learned);
            setKnownApps(m_knownStore.all());
            note(QStringLiteral("App ID по bundle id: найдено ") + QString::number(learned.size())
                 + QStringLiteral(" из ") + QString::number(unknown.size()));
            // Also asks again about the apps just learned, which the store answers from its cache.
            setInstalledApps(std::move(apps));
            co_return;
        }
    }
    if (!ids.isEmpty())
        notePhoneAnswers(co_await m_artwork.info(ids));
}
