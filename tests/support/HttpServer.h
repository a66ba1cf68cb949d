#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QTcpServer>
#include <QUrl>
#include <QUrlQuery>

#include <chrono>
#include <functional>
#include <utility>

class QTcpSocket;

/// A loopback HTTP/1.1 server for tests that would otherwise need the internet. It listens on
/// 127.0.0.1 at a free port, records every request, and answers per path — with a fixed response,
/// one computed from the request, a delay, or no answer at all (for time-outs).
/// Each connection carries one request and is closed after the answer.
class HttpServer : public QObject {
    Q_OBJECT

public:
    struct Request {
        QString path;
        QUrlQuery query;
    };

    struct Response {
        int status = 200;
        QList<std::pair<QByteArray, QByteArray>> headers;
        QByteArray body;
        std::chrono::milliseconds delay{0};
        bool never = false; // keep the connection open and say nothing

        static Response json(QByteArray body, int status = 200);
        static Response text(QByteArray body, QByteArray contentType = "text/plain", int status = 200);
        static Response silence();
    };

    using Handler = std::function<Response(const Request&)>;

    explicit HttpServer(QObject* parent = nullptr);
    ~HttpServer() override;

    /// http://127.0.0.1:<port>, no trailing slash.
    QUrl url() const;
    QUrl url(const QString& path) const;

    void setResponse(const QString& path, Response response);
    void setHandler(const QString& path, Handler handler);

    QList<Request> requests() const { return m_requests; }
    QList<Request> requests(const QString& path) const;
    void clearRequests() { m_requests.clear(); }

private:
    void accept();
    void readFrom(QTcpSocket* socket);
    void answer(QTcpSocket* socket, const Request& request);

    QTcpServer m_server;
    QHash<QString, Handler> m_handlers;
    QList<Request> m_requests;
    QHash<QTcpSocket*, QByteArray> m_pending;
};
