#pragma once

#include "process/CancelHandle.h"

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>

#include <QCoroTask>

#include <optional>

/// The work the model has running, keyed by what it touches: a file being written, an app being
/// installed, the update. The one place that answers "is this already running?" and holds the
/// cancel handles for a row's "Отменить", for sign-out and for quit.
class Operations : public QObject {
    Q_OBJECT
public:
    /// Holds its key for as long as it lives; the work ends with it, however the work ended.
    class Ticket {
    public:
        Ticket(Ticket&& other) noexcept;
        Ticket& operator=(Ticket&&) = delete;
        ~Ticket();

        const CancelHandle& cancel() const { return m_cancel; }

    private:
        friend class Operations;
        Ticket(Operations* owner, QString key, CancelHandle cancel);

        QPointer<Operations> m_owner;
        QString m_key;
        CancelHandle m_cancel;
    };

    static QString fileKey(const QString& path);
    static QString installKey(qint64 appID);
    static QString syncKey(quint64 session);
    static QString updateKey();

    bool isRunning(const QString& key) const { return m_running.contains(key); }
    bool isEmpty() const { return m_running.isEmpty(); }
    /// Nothing when `key` is already running. `appID` lets the app's row cancel it.
    std::optional<Ticket> begin(QString key, std::optional<qint64> appID = std::nullopt);
    /// Resumes once `key` is no longer running; at once when it is not.
    QCoro::Task<> finished(QString key);

    void cancel(const QString& key);
    void cancelApp(qint64 appID);
    void cancelAll();

Q_SIGNALS:
    void ended(const QString& key);

private:
    struct Entry {
        CancelHandle cancel;
        std::optional<qint64> appID;
    };

    void end(const QString& key, const CancelHandle& cancel);

    QHash<QString, Entry> m_running;
};
