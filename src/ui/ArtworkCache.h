#pragma once

#include <QCache>
#include <QHash>
#include <QList>
#include <QNetworkAccessManager>
#include <QObject>
#include <QPixmap>
#include <QSet>
#include <QUrl>

class QNetworkReply;

/// App icons for the list rows, fetched when a row first needs one and kept in memory. Rows ask
/// while painting, so only what is on screen is fetched; the newest request goes first, which is
/// what the user is looking at after a fast scroll.
class ArtworkCache : public QObject {
    Q_OBJECT
public:
    explicit ArtworkCache(QObject* parent = nullptr);

    /// The icon at `url` clipped to the row's rounded square, or nothing yet (it is then fetched
    /// and `loaded` follows). An icon that could not be fetched stays absent for the whole run.
    const QPixmap* icon(const QUrl& url, int side, qreal devicePixelRatio);

    /// Whether the rows may fetch an icon from `url`: https anywhere, plain http only on this machine.
    /// Anything else (file:, data:, remote http) keeps the initial square.
    static bool isFetchable(const QUrl& url);
    bool hasFailed(const QUrl& url) const { return m_failed.contains(url); }

    static constexpr int maxConcurrent = 6;
    static constexpr int maxQueued = 64;
    static constexpr qint64 maxIconBytes = 2 * 1024 * 1024;

Q_SIGNALS:
    void loaded(const QUrl& url);

private:
    void pump();
    void finished(QNetworkReply* reply);

    QNetworkAccessManager m_network;
    QCache<QUrl, QPixmap> m_icons;
    QSet<QUrl> m_failed;
    QList<QUrl> m_queue;
    QSet<QUrl> m_queued;
    struct Request {
        int side = 0;
        qreal ratio = 1;
    };
    QHash<QUrl, Request> m_requests;
    QSet<QUrl> m_inFlight;
};
