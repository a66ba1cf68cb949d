#include "model/AppModel.h"

#include "common/AppError.h"
#include "common/RussianText.h"
#include "store/PurchasesCache.h"

#include <QCoroTimer>
#include <QSet>
#include <QTimer>

#include <algorithm>

namespace {

// Resumes after `pause`, or at the next turn of the event loop once `cancel` fires.
QCoro::Task<> pauseUnlessCancelled(std::chrono::milliseconds pause, CancelHandle cancel)
{
    QTimer timer;
    timer.setSingleShot(true);
    cancel.onCancel(&timer, [&timer] { timer.start(0); });
    timer.start(cancel.isCancelled() ? std::chrono::milliseconds(0) : pause);
    co_await timer;
}

} // namespace

bool AppModel::isCurrentSession(quint64 session, const QString& email) const
{
    return m_session == session && m_account && m_account->email == email;
}

void AppModel::forgetWrongPassphrase(const IPAToolError& error)
{
    if (error.kind() == IPAToolError::Kind::wrongKeychainPassphrase)
        m_ipatool.setKeychainPassphrase(std::nullopt);
}

QCoro::Task<> AppModel::signIn(QString email, QString password, QString code, QString keychainPassphrase)
{
    if (!keychainPassphrase.isEmpty())
        m_ipatool.setKeychainPassphrase(keychainPassphrase);
    std::optional<IPATool::Account> signedIn;
    try {
        signedIn = co_await m_ipatool.login(email, password, code);
    } catch (const IPAToolError& error) {
        forgetWrongPassphrase(error);
        throw;
    }
    const IPATool::Account account = *signedIn;
    setKeychainLocked(false);
    ++m_session;
    setAccount(account);
    setStage(Stage::signedIn);
    note(QStringLiteral("Вход выполнен: ") + account.email);
    loadCachedPurchases();
    startDeviceWatch();
    co_await syncPurchases(true);
}

QCoro::Task<> AppModel::unlockKeychain(QString passphrase)
{
    m_ipatool.setKeychainPassphrase(passphrase);
    std::optional<IPATool::Account> account;
    try {
        account = co_await m_ipatool.accountInfo();
    } catch (const IPAToolError& error) {
        forgetWrongPassphrase(error);
        throw;
    }
    setKeychainLocked(false);
    note(QStringLiteral("Связка ключей ipatool открыта"));
    if (account && m_stage != Stage::signedIn)
        co_await resumeSession(*account);
}

QCoro::Task<> AppModel::signOut()
{
    try {
        co_await m_ipatool.logout();
    } catch (...) {
        // The local state is cleared whatever ipatool says.
    }
    m_operations.cancel(Operations::syncKey(m_session));
    ++m_session;
    PurchasesCache::clear();
    setAccount(std::nullopt);
    setApps({});
    setStage(Stage::signedOut);
    // A sync still running belongs to the account that just left and will drop its result;
    // it must not keep the next account's sync from starting.
    setSyncProgress(std::nullopt);
    setSyncStatus({});
    stopDeviceWatch();
    note(QStringLiteral("Выход из аккаунта"));
}

void AppModel::loadCachedPurchases()
{
    if (!m_account)
        return;
    if (auto payload = PurchasesCache::load(m_account->email)) {
        setApps(std::move(payload->apps));
        setLastSync(payload->updatedAt);
    }
}

QCoro::Task<> AppModel::syncPurchases(bool force)
{
    if (!m_account || m_syncProgress)
        co_return;
    if (!force && m_lastSync && m_lastSync->secsTo(QDateTime::currentDateTime()) < syncMinimumAgeSeconds)
        co_return;
    const QString email = m_account->email;
    const quint64 session = m_session;

    const std::optional<Operations::Ticket> ticket = m_operations.begin(Operations::syncKey(session));
    if (!ticket)
        co_return;
    setSyncProgress(0.0);
    setSyncStatus(QStringLiteral("Читаю историю загрузок…"));
    QList<PurchasedApp> collected;
    // Paging counts entries as listed: one unreadable entry must not end the history early.
    qsizetype listed = 0;
    qsizetype skipped = 0;
    qsizetype otherPlatforms = 0;
    const QPointer<AppModel> self(this);
    try {
        for (int page = 1;; ++page) {
            std::optional<IPATool::PurchasesPage> read;
            // Apple's rate limit passes with time: one more try per page after a pause.
            for (bool retried = false; !read; retried = true) {
                bool limited = false;
                try {
                    read = co_await m_ipatool.purchases(page, purchasesPageSize, ticket->cancel());
                } catch (const IPAToolError& error) {
                    if (error.kind() != IPAToolError::Kind::rateLimited || retried)
                        throw;
                    limited = true;
                }
                if (!limited)
                    break;
                if (!isCurrentSession(session, email))
                    co_return;
                setSyncStatus(QStringLiteral("Apple просит подождать — повторю через ")
                              + QString::number(std::max<qint64>(1, m_rateLimitPause.count() / 1000))
                              + QStringLiteral(" с…"));
                co_await pauseUnlessCancelled(m_rateLimitPause, ticket->cancel());
                if (!self || ticket->cancel().isCancelled() || !isCurrentSession(session, email))
                    co_return;
            }
            if (!isCurrentSession(session, email))
                co_return;
            const IPATool::PurchasesPage& answer = *read;
            collected.append(answer.apps);
            listed += answer.rawCount;
            skipped += answer.skipped;
            otherPlatforms += answer.otherPlatforms;
            setSyncProgress(answer.totalCount < 1
                                ? std::nullopt
                                : std::optional(std::min(1.0, double(listed) / double(answer.totalCount))));
            setSyncStatus(QStringLiteral("Загружено ") + QString::number(listed) + QStringLiteral(" из ")
                          + QString::number(answer.totalCount));
            if (answer.rawCount < purchasesPageSize || listed >= answer.totalCount || page >= purchasesLastPage)
                break;
        }
    } catch (const std::exception& error) {
        if (!isCurrentSession(session, email))
            co_return;
        fail(QStringLiteral("История покупок: ") + AppError::describe(error));
        setSyncProgress(std::nullopt);
        setSyncStatus({});
        co_return;
    }

    QSet<qint64> seen;
    QList<PurchasedApp> unique;
    unique.reserve(collected.size());
    for (PurchasedApp& app : collected) {
        if (!seen.contains(app.id)) {
            seen.insert(app.id);
            unique.append(std::move(app));
        }
    }
    setApps(std::move(unique));
    setLastSync(QDateTime::currentDateTime());
    PurchasesCache::save(m_apps, email);
    note(QStringLiteral("История загрузок: ") + RussianText::apps(m_apps.size()));
    if (skipped > 0)
        note(QStringLiteral("Не удалось прочитать ") + QString::number(skipped) + QLatin1Char(' ')
             + RussianText::plural(skipped, QStringLiteral("запись"), QStringLiteral("записи"),
                                   QStringLiteral("записей"))
             + QStringLiteral(" истории загрузок — пропускаю"));
    if (otherPlatforms > 0)
        note(QStringLiteral("Покупки для Mac, Apple TV и Vision Pro не показываю: ") + QString::number(otherPlatforms));

    co_await enrichArtwork();
    if (!isCurrentSession(session, email))
        co_return;
    PurchasesCache::save(m_apps, email);
    setSyncProgress(std::nullopt);
    setSyncStatus({});
}

QCoro::Task<> AppModel::enrichArtwork()
{
    setSyncStatus(QStringLiteral("Уточняю, что осталось в App Store…"));
    QList<qint64> pending;
    for (const PurchasedApp& app : std::as_const(m_apps)) {
        if (!app.artworkFetched)
            pending.append(app.id);
    }
    if (pending.isEmpty())
        co_return;

    const quint64 session = m_session;
    const QDateTime asked = QDateTime::currentDateTimeUtc();
    const QHash<qint64, ArtworkService::Info> answers = co_await m_artwork.info(pending);
    if (session != m_session)
        co_return;
    QList<PurchasedApp> apps = m_apps;
    for (PurchasedApp& app : apps) {
        const auto answer = answers.constFind(app.id);
        if (answer == answers.cend())
            continue;
        app.artworkURL = answer->artworkURL;
        app.sellerName = answer->sellerName;
        app.artworkFetched = true;
    }
    setApps(std::move(apps));
    observeLookup(answers, asked);
    const auto gone =
        std::count_if(m_apps.cbegin(), m_apps.cend(), [](const PurchasedApp& app) { return app.isGoneFromStore(); });
    note(QStringLiteral("Снято из App Store: ") + RussianText::apps(gone)
         + QStringLiteral(" — их переустановить можно только так"));
}

QList<PurchasedApp> AppModel::filteredApps() const
{
    const QString needle = m_search.trimmed();
    QList<PurchasedApp> result;
    for (const PurchasedApp& app : m_apps) {
        if (m_showOnlyGone && !app.isGoneFromStore())
            continue;
        // Case-blind matching without lower-casing every name on every keystroke.
        if (!needle.isEmpty() && !app.name.contains(needle, Qt::CaseInsensitive)
            && !app.bundleID.contains(needle, Qt::CaseInsensitive))
            continue;
        result.append(app);
    }
    return result;
}
