#pragma once

#include <QByteArray>
#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTcpServer>
#include <QUrl>
#include <QUrlQuery>

#include <chrono>
#include <functional>

class QTcpSocket;

/// The demo's own server on the loopback interface: the app icons, and the update manifest, its
/// archive and a release page, so the whole update road can be tried without the maker's server.
class DemoUpdateServer : public QObject {
    Q_OBJECT
public:
    explicit DemoUpdateServer(QObject* parent = nullptr);

    /// Any free port when `port` is 0.
    bool listen(quint16 port = 0);
    quint16 port() const { return m_server.serverPort(); }
    QUrl url(const QString& path) const;
    QUrl manifestUrl() const { return url(QStringLiteral("/appcast.json")); }

    /// Serves `/icons/icon-NN.png` from `folder`, with or without an offer.
    void setIconFolder(QString folder) { m_icons = std::move(folder); }

    /// The manifest without "url" and "page", which point at this server; `archive` is the file
    /// served as the update. Until there is an offer the manifest is missing.
    void setOffer(QJsonObject manifest, QString archive);
    /// An offer is being made: requests for it wait for setOffer, or for noOffer.
    void expectOffer() { m_offerComing = true; }
    void noOffer();
    /// Answers `/lookup` as the store's lookup endpoint would, with JSON made from the query.
    void setLookup(std::function<QByteArray(const QUrlQuery& query)> lookup) { m_lookup = std::move(lookup); }
    /// Holds every answer back, as a slow network would.
    void setDelay(std::chrono::milliseconds delay) { m_delay = delay; }

private:
    void accept();
    void read(QTcpSocket* socket);
    void answer(QTcpSocket* socket, const QByteArray& path, const QUrlQuery& query);
    void sendFile(QTcpSocket* socket, const QString& path);

    QTcpServer m_server;
    QJsonObject m_offer;
    QString m_archive;
    QString m_icons;
    std::function<QByteArray(const QUrlQuery&)> m_lookup;
    std::chrono::milliseconds m_delay{0};
    bool m_offerComing = false;
    struct Waiting {
        QPointer<QTcpSocket> socket;
        QByteArray path;
        QUrlQuery query;
    };
    QList<Waiting> m_waiting;
    QHash<QTcpSocket*, QByteArray> m_pending;
};
