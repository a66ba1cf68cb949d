#include "archive/ArchiveQueue.h"

#include "BuildConfig.h"
#include "common/AtomicFile.h"
#include "common/JsonRead.h"
#include "common/JsonWriter.h"
#include "process/Tools.h"

#include <QDir>
#include <QSet>

#include <algorithm>

namespace {

const QLatin1String accountKey("account");
const QLatin1String pausedKey("paused");
const QLatin1String itemsKey("items");

QLatin1String stateName(ArchiveQueue::Item::State state)
{
    switch (state) {
    case ArchiveQueue::Item::State::saved:
        return QLatin1String("saved");
    case ArchiveQueue::Item::State::failed:
        return QLatin1String("failed");
    case ArchiveQueue::Item::State::pending:
    case ArchiveQueue::Item::State::running:
        break;
    }
    // A download cut short by a quit is simply still to do.
    return QLatin1String("pending");
}

std::optional<ArchiveQueue::Item::State> stateFrom(const QString& name)
{
    if (name == QLatin1String("pending"))
        return ArchiveQueue::Item::State::pending;
    if (name == QLatin1String("saved"))
        return ArchiveQueue::Item::State::saved;
    if (name == QLatin1String("failed"))
        return ArchiveQueue::Item::State::failed;
    return std::nullopt;
}

std::optional<ArchiveQueue::Item> itemFrom(const QJsonValue& value)
{
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject object = value.toObject();
    const auto id = JsonRead::integer(object, QLatin1String("id"));
    const auto name = JsonRead::string(object, QLatin1String("name"));
    const auto state = stateFrom(JsonRead::string(object, QLatin1String("state")).value_or(QString()));
    if (!id || *id <= 0 || !name || !state)
        return std::nullopt;
    ArchiveQueue::Item item;
    item.adamID = *id;
    item.name = *name;
    item.state = *state;
    item.bundleID = JsonRead::string(object, QLatin1String("bundleID")).value_or(QString());
    item.isFree = JsonRead::boolean(object, QLatin1String("free")).value_or(false);
    item.retried = JsonRead::boolean(object, QLatin1String("retried")).value_or(false);
    item.error = JsonRead::string(object, QLatin1String("error")).value_or(QString());
    return item;
}

} // namespace

// Resumes the loop when its pause ends or something changes; `wait` below zero waits for a change only.
struct ArchiveQueue::Wait {
    ArchiveQueue* queue;
    std::chrono::milliseconds wait;

    bool await_ready() const { return false; }
    void await_suspend(std::coroutine_handle<> handle) const
    {
        queue->m_waiter = handle;
        if (wait.count() >= 0)
            queue->m_timer.start(wait);
    }
    void await_resume() const {}
};

ArchiveQueue::Settings ArchiveQueue::defaults()
{
    using std::chrono::seconds;
    const seconds backoff(BuildConfig::queueBackoffSeconds);
    return {std::max(1, BuildConfig::queueParallel), seconds(BuildConfig::queuePauseSeconds), backoff, backoff * 32};
}

ArchiveQueue::ArchiveQueue(Settings settings, QObject* parent)
    : QObject(parent)
    , m_settings(settings)
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        if (m_waiter)
            std::exchange(m_waiter, {}).resume();
    });
}

ArchiveQueue::~ArchiveQueue()
{
    // The loop must not stay suspended behind a queue that is gone.
    ++m_generation;
    wake();
}

QString ArchiveQueue::filePath()
{
    return QDir(Tools::cacheDirectory()).filePath(QStringLiteral("queue.json"));
}

void ArchiveQueue::open(const QString& account)
{
    close();
    m_account = account;
    if (account.isEmpty())
        return;
    const auto content = AtomicFile::read(filePath(), 64 * 1024 * 1024);
    std::optional<Stored> stored = content ? decode(*content) : std::nullopt;
    if (!stored || stored->account != account || stored->items.isEmpty())
        return;
    m_items = std::move(stored->items);
    m_paused = stored->paused;
    QList<qint64> waiting;
    for (const Item& item : std::as_const(m_items)) {
        if (item.state == Item::State::pending)
            waiting.append(item.adamID);
    }
    Q_EMIT changed();
    Q_EMIT queuedChanged(waiting, true);
    start();
}

void ArchiveQueue::close()
{
    ++m_generation;
    wake();
    QList<qint64> waiting;
    for (const Item& item : std::as_const(m_items)) {
        if (item.state == Item::State::pending)
            waiting.append(item.adamID);
    }
    const bool hadItems = !m_items.isEmpty();
    m_account.clear();
    m_items.clear();
    m_paused = false;
    m_running = 0;
    m_strikes = 0;
    m_waitingUntil.reset();
    m_notBefore = {};
    m_looping = false;
    if (!waiting.isEmpty())
        Q_EMIT queuedChanged(waiting, false);
    if (hadItems)
        Q_EMIT changed();
}

int ArchiveQueue::enqueue(const QList<Item>& items)
{
    if (m_account.isEmpty())
        return 0;
    QSet<qint64> present;
    for (const Item& item : std::as_const(m_items))
        present.insert(item.adamID);
    QList<qint64> added;
    for (Item item : items) {
        if (item.adamID <= 0 || present.contains(item.adamID))
            continue;
        present.insert(item.adamID);
        item.state = Item::State::pending;
        item.retried = false;
        item.error.clear();
        m_items.append(std::move(item));
        added.append(m_items.constLast().adamID);
    }
    if (added.isEmpty())
        return 0;
    save();
    Q_EMIT changed();
    Q_EMIT queuedChanged(added, true);
    start();
    return int(added.size());
}

void ArchiveQueue::pause()
{
    if (m_paused || m_items.isEmpty())
        return;
    m_paused = true;
    save();
    wake();
    Q_EMIT changed();
}

void ArchiveQueue::resume()
{
    if (!m_paused)
        return;
    m_paused = false;
    save();
    Q_EMIT changed();
    start();
}

void ArchiveQueue::cancel()
{
    const QString account = m_account;
    const bool hadItems = !m_items.isEmpty();
    close();
    m_account = account;
    if (hadItems)
        AtomicFile::remove(filePath());
}

bool ArchiveQueue::isQueued(qint64 appID) const
{
    return std::any_of(m_items.cbegin(), m_items.cend(), [appID](const Item& item) {
        return item.adamID == appID && item.state == Item::State::pending;
    });
}

QList<qint64> ArchiveQueue::runningApps() const
{
    QList<qint64> ids;
    for (const Item& item : m_items) {
        if (item.state == Item::State::running)
            ids.append(item.adamID);
    }
    return ids;
}

int ArchiveQueue::finishedCount() const
{
    return savedCount() + failedCount();
}

int ArchiveQueue::savedCount() const
{
    return int(std::count_if(m_items.cbegin(), m_items.cend(),
                             [](const Item& item) { return item.state == Item::State::saved; }));
}

int ArchiveQueue::failedCount() const
{
    return int(std::count_if(m_items.cbegin(), m_items.cend(),
                             [](const Item& item) { return item.state == Item::State::failed; }));
}

std::chrono::milliseconds ArchiveQueue::backoffDelay(const Settings& settings, int strikes)
{
    std::chrono::milliseconds delay = settings.backoff;
    for (int strike = 1; strike < strikes && delay < settings.backoffLimit; ++strike)
        delay *= 2;
    return std::min(delay, std::max(settings.backoff, settings.backoffLimit));
}

void ArchiveQueue::wake()
{
    m_timer.stop();
    if (m_waiter)
        std::exchange(m_waiter, {}).resume();
}

void ArchiveQueue::start()
{
    if (m_paused || m_items.isEmpty() || m_account.isEmpty())
        return;
    if (m_looping) {
        wake();
        return;
    }
    loop(QPointer<ArchiveQueue>(this), m_generation);
}

qsizetype ArchiveQueue::nextPending() const
{
    for (qsizetype i = 0; i < m_items.size(); ++i) {
        if (m_items.at(i).state == Item::State::pending)
            return i;
    }
    return -1;
}

QCoro::Task<> ArchiveQueue::loop(QPointer<ArchiveQueue> self, quint64 generation)
{
    self->m_looping = true;
    while (self && self->m_generation == generation && !self->m_paused) {
        ArchiveQueue& queue = *self;
        const qsizetype next = queue.nextPending();
        if (next < 0 && queue.m_running == 0) {
            queue.finish();
            break;
        }
        const auto now = Clock::now();
        const bool slotFree = queue.m_running < queue.m_settings.parallel;
        if (next >= 0 && slotFree && now >= queue.m_notBefore) {
            Item& item = queue.m_items[next];
            item.state = Item::State::running;
            ++queue.m_running;
            // A new item may follow only after the pause, counted from its start for a second slot.
            queue.m_notBefore = now + queue.m_settings.pause;
            Q_EMIT queue.changed();
            runItem(self, generation, item);
            continue;
        }
        const auto wait = next >= 0 && slotFree ? std::chrono::ceil<std::chrono::milliseconds>(queue.m_notBefore - now)
                                                : std::chrono::milliseconds(-1);
        co_await Wait{&queue, wait};
    }
    if (self && self->m_generation == generation)
        self->m_looping = false;
}

QCoro::Task<> ArchiveQueue::runItem(QPointer<ArchiveQueue> self, quint64 generation, Item item)
{
    Outcome outcome{Outcome::Kind::dropped, {}};
    try {
        if (self->m_download)
            outcome = co_await self->m_download(item);
    } catch (const std::exception& error) {
        outcome = {Outcome::Kind::failed, QString::fromLocal8Bit(error.what())};
    }
    if (!self || self->m_generation != generation)
        co_return;
    self->record(item.adamID, outcome);
}

void ArchiveQueue::record(qint64 appID, const Outcome& outcome)
{
    --m_running;
    const auto found = std::find_if(m_items.begin(), m_items.end(), [appID](const Item& item) {
        return item.adamID == appID && item.state == Item::State::running;
    });
    if (found == m_items.end()) {
        wake();
        return;
    }
    const auto now = Clock::now();
    switch (outcome.kind) {
    case Outcome::Kind::saved:
        found->state = Item::State::saved;
        m_strikes = 0;
        m_waitingUntil.reset();
        m_notBefore = std::max(m_notBefore, now + m_settings.pause);
        break;
    case Outcome::Kind::rateLimited: {
        // Not the app's fault: it stays where it is and the whole queue waits.
        found->state = Item::State::pending;
        const auto delay = backoffDelay(m_settings, ++m_strikes);
        m_notBefore = now + delay;
        m_waitingUntil = QDateTime::currentDateTimeUtc().addMSecs(delay.count());
        Q_EMIT queuedChanged({appID}, true);
        break;
    }
    case Outcome::Kind::failed:
        m_strikes = 0;
        m_waitingUntil.reset();
        m_notBefore = std::max(m_notBefore, now + m_settings.pause);
        if (found->retried) {
            found->state = Item::State::failed;
            found->error = outcome.error;
        } else {
            Item again = *found;
            again.state = Item::State::pending;
            again.retried = true;
            m_items.erase(found);
            m_items.append(std::move(again));
            Q_EMIT queuedChanged({appID}, true);
        }
        break;
    case Outcome::Kind::dropped:
        // Stopped from its row: the user does not want it any more.
        m_items.erase(found);
        break;
    }
    save();
    Q_EMIT changed();
    if (m_paused && m_running == 0 && nextPending() < 0)
        finish();
    wake();
}

void ArchiveQueue::finish()
{
    const int saved = savedCount();
    const int failed = failedCount();
    const bool hadItems = !m_items.isEmpty();
    m_items.clear();
    m_paused = false;
    m_strikes = 0;
    m_waitingUntil.reset();
    AtomicFile::remove(filePath());
    if (!hadItems)
        return;
    Q_EMIT changed();
    Q_EMIT finished(saved, failed);
}

void ArchiveQueue::save() const
{
    if (m_account.isEmpty())
        return;
    AtomicFile::write(filePath(), encode({m_account, m_paused, m_items}));
}

QByteArray ArchiveQueue::encode(const Stored& stored)
{
    JsonWriter json(stored.items.size() * 120 + 64);
    json.beginObject();
    json.field(accountKey, stored.account);
    json.key(itemsKey);
    json.beginArray();
    for (const Item& item : stored.items) {
        json.beginObject();
        json.field(QLatin1String("bundleID"), item.bundleID);
        if (!item.error.isEmpty())
            json.field(QLatin1String("error"), item.error);
        json.field(QLatin1String("free"), item.isFree);
        json.field(QLatin1String("id"), item.adamID);
        json.field(QLatin1String("name"), item.name);
        json.field(QLatin1String("retried"), item.retried);
        json.field(QLatin1String("state"), stateName(item.state));
        json.endObject();
    }
    json.endArray();
    json.field(pausedKey, stored.paused);
    json.endObject();
    return json.take();
}

std::optional<ArchiveQueue::Stored> ArchiveQueue::decode(const QByteArray& json)
{
    const auto root = JsonRead::object(json);
    if (!root)
        return std::nullopt;
    const auto account = JsonRead::string(*root, accountKey);
    const QJsonValue items = root->value(itemsKey);
    if (!account || account->isEmpty() || !items.isArray())
        return std::nullopt;
    Stored stored{*account, JsonRead::boolean(*root, pausedKey).value_or(false), {}};
    QSet<qint64> seen;
    for (const QJsonValue& value : items.toArray()) {
        auto item = itemFrom(value);
        if (!item || seen.contains(item->adamID))
            continue;
        seen.insert(item->adamID);
        stored.items.append(std::move(*item));
    }
    return stored;
}
