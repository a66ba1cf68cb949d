#include "ui/ArtworkCache.h"

#include <QHostAddress>
#include <QImage>
#include <QNetworkReply>
#include <QPainter>
#include <QPainterPath>

namespace {

constexpr int cornerRadius = 9;
constexpr int timeoutMs = 15000;

QPixmap rounded(const QImage& image, QSize pixels, qreal ratio)
{
    QPixmap result(pixels);
    result.fill(Qt::transparent);
    QPainter painter(&result);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    QPainterPath clip;
    clip.addRoundedRect(QRectF(QPointF(0, 0), QSizeF(pixels)), cornerRadius * ratio, cornerRadius * ratio);
    painter.setClipPath(clip);
    const QImage scaled = image.scaled(pixels, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    painter.drawImage(QPoint((pixels.width() - scaled.width()) / 2, (pixels.height() - scaled.height()) / 2), scaled);
    painter.end();
    result.setDevicePixelRatio(ratio);
    return result;
}

} // namespace

bool ArtworkCache::isFetchable(const QUrl& url)
{
    if (!url.isValid())
        return false;
    const QString scheme = url.scheme().toLower();
    if (scheme == QLatin1String("https"))
        return !url.host().isEmpty();
    if (scheme != QLatin1String("http"))
        return false;
    const QString host = url.host().toLower();
    return host == QLatin1String("localhost") || QHostAddress(host).isLoopback();
}

ArtworkCache::ArtworkCache(QObject* parent)
    : QObject(parent)
    // Pixmap cost is in kilobytes: room for a few thousand icons of a list row.
    , m_icons(64 * 1024)
{
    m_network.setTransferTimeout(timeoutMs);
    connect(&m_network, &QNetworkAccessManager::finished, this, &ArtworkCache::finished);
}

const QPixmap* ArtworkCache::icon(const QUrl& url, int side, qreal devicePixelRatio)
{
    if (const QPixmap* cached = m_icons.object(url))
        return cached;
    if (m_failed.contains(url) || m_inFlight.contains(url))
        return nullptr;
    if (!isFetchable(url)) {
        m_failed.insert(url);
        return nullptr;
    }
    m_requests.insert(url, {side, devicePixelRatio});
    if (m_queued.contains(url))
        m_queue.removeOne(url);
    m_queued.insert(url);
    m_queue.append(url);
    // After a fast scroll only the latest rows matter; older requests are dropped, not queued forever.
    while (m_queue.size() > maxQueued) {
        const QUrl stale = m_queue.takeFirst();
        m_queued.remove(stale);
        m_requests.remove(stale);
    }
    pump();
    return nullptr;
}

void ArtworkCache::pump()
{
    while (m_inFlight.size() < maxConcurrent && !m_queue.isEmpty()) {
        const QUrl url = m_queue.takeLast();
        m_queued.remove(url);
        m_inFlight.insert(url);
        QNetworkRequest request(url);
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
        QNetworkReply* reply = m_network.get(request);
        // A row icon is a few kilobytes; a server that sends more, or never stops, is cut off.
        connect(reply, &QNetworkReply::downloadProgress, reply, [reply](qint64 received, qint64 total) {
            if (received > maxIconBytes || total > maxIconBytes)
                reply->abort();
        });
    }
}

void ArtworkCache::finished(QNetworkReply* reply)
{
    reply->deleteLater();
    const QUrl url = reply->request().url();
    m_inFlight.remove(url);
    QImage image;
    if (reply->error() == QNetworkReply::NoError) {
        const QByteArray bytes = reply->read(maxIconBytes + 1);
        if (bytes.size() <= maxIconBytes)
            image.loadFromData(bytes);
    }
    const Request wanted = m_requests.take(url);
    const QSize pixels = QSize(wanted.side, wanted.side) * wanted.ratio;
    if (image.isNull() || pixels.isEmpty()) {
        m_failed.insert(url);
    } else {
        auto* pixmap = new QPixmap(rounded(image, pixels, wanted.ratio));
        m_icons.insert(url, pixmap, qMax(1, pixels.width() * pixels.height() * 4 / 1024));
        Q_EMIT loaded(url);
    }
    pump();
}
