#pragma once

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <QCoroTask>

#include <chrono>
#include <coroutine>
#include <functional>
#include <optional>

/// Saves a list of apps one download after another (or a few at once, by build setting), pausing
/// between items and longer each time Apple asks to wait. The list belongs to one account and is
/// kept in `queue.json` in the cache folder, so a quit does not lose it. A failed app is tried once
/// more at the end, then left failed; no single failure stops the queue.
class ArchiveQueue : public QObject {
    Q_OBJECT
public:
    struct Item {
        enum class State { pending, running, saved, failed };
        qint64 adamID = 0;
        QString bundleID;
        QString name;
        bool isFree = false;
        State state = State::pending;
        bool retried = false; // its first attempt failed; this is the one more it gets
        QString error;

        friend bool operator==(const Item&, const Item&) = default;
    };

    /// How one download ended, as far as the queue cares.
    struct Outcome {
        enum class Kind { saved, failed, rateLimited, dropped };
        Kind kind = Kind::saved;
        QString error;
    };
    using Download = std::function<QCoro::Task<Outcome>(Item)>;

    struct Settings {
        int parallel = 1;
        std::chrono::milliseconds pause{5000};
        /// The first wait after a rate limit; each one in a row doubles it, up to `backoffLimit`.
        std::chrono::milliseconds backoff{60000};
        std::chrono::milliseconds backoffLimit{1920000};
    };
    static Settings defaults();

    /// The content of queue.json.
    struct Stored {
        QString account;
        bool paused = false;
        QList<Item> items;

        friend bool operator==(const Stored&, const Stored&) = default;
    };

    explicit ArchiveQueue(Settings settings = defaults(), QObject* parent = nullptr);
    ~ArchiveQueue() override;

    void setDownload(Download download) { m_download = std::move(download); }

    /// Takes up what `account` left queued and runs it unless paused; another account's queue is
    /// left alone on disk and never run.
    void open(const QString& account);
    /// Starts nothing more and forgets the queue in memory; the file stays for the account's return.
    void close();

    /// Appends the apps not queued yet and runs the queue; returns how many were added. Nothing
    /// is queued while no account is open.
    int enqueue(const QList<Item>& items);
    void pause();
    void resume();
    /// Forgets every item and the file. Downloads already running are the caller's to end.
    void cancel();

    const QString& account() const { return m_account; }
    const QList<Item>& items() const { return m_items; }
    bool isEmpty() const { return m_items.isEmpty(); }
    bool isPaused() const { return m_paused; }
    bool isQueued(qint64 appID) const;
    QList<qint64> runningApps() const;
    int finishedCount() const;
    int savedCount() const;
    int failedCount() const;
    /// While Apple has asked to wait: when the queue goes on.
    std::optional<QDateTime> waitingUntil() const { return m_waitingUntil; }

    static QString filePath();
    static std::chrono::milliseconds backoffDelay(const Settings& settings, int strikes);
    static QByteArray encode(const Stored& stored);
    /// Absent for anything but an object with an account and a list; unreadable items are skipped.
    static std::optional<Stored> decode(const QByteArray& json);

Q_SIGNALS:
    void changed();
    /// Apps that now wait in the queue (`queued`), or no longer do without having run.
    void queuedChanged(const QList<qint64>& appIDs, bool queued);
    /// The last item ended; the counts cover the whole queue.
    void finished(int saved, int failed);

private:
    struct Wait;
    using Clock = std::chrono::steady_clock;

    void start();
    void wake();
    void save() const;
    void finish();
    qsizetype nextPending() const;
    void record(qint64 appID, const Outcome& outcome);
    static QCoro::Task<> loop(QPointer<ArchiveQueue> self, quint64 generation);
    static QCoro::Task<> runItem(QPointer<ArchiveQueue> self, quint64 generation, Item item);

    Settings m_settings;
    Download m_download;
    QString m_account;
    QList<Item> m_items;
    bool m_paused = false;
    int m_running = 0;
    int m_strikes = 0;
    Clock::time_point m_notBefore;
    std::optional<QDateTime> m_waitingUntil;
    // Bumped by open, close and cancel: work begun under an older one leaves the queue alone.
    quint64 m_generation = 0;
    bool m_looping = false;
    QTimer m_timer;
    std::coroutine_handle<> m_waiter;
};
