#include "support/HttpServer.h"

#include <QTcpSocket>
#include <QTimer>

namespace {

// Whether `buffer` holds a whole request; fills `request` when it does. Clients only ever GET.
bool parse(const QByteArray& buffer, HttpServer::Request& request)
{
    if (!buffer.contains("\r\n\r\n"))
        return false;
    const QUrl target(QString::fromUtf8(buffer.left(buffer.indexOf('\n')).trimmed().split(' ').value(1)));
    request.path = target.path();
    request.query = QUrlQuery(target);
    return true;
}

} // namespace

HttpServer::Response HttpServer::Response::json(QByteArray body, int status)
{
    return text(std::move(body), "application/json", status);
}

HttpServer::Response HttpServer::Response::text(QByteArray body, QByteArray contentType, int status)
{
    return Response{status, {{"Content-Type", std::move(contentType)}}, std::move(body)};
}

HttpServer::Response HttpServer::Response::silence()
{
    Response response;
    response.never = true;
    return response;
}

HttpServer::HttpServer(QObject* parent)
    : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, &HttpServer::accept);
    if (!m_server.listen(QHostAddress::LocalHost, 0))
        qWarning("HttpServer: cannot listen: %s", qPrintable(m_server.errorString()));
}

HttpServer::~HttpServer()
{
    m_server.close();
    // Before the members go: a socket's last signals must not reach a half-destroyed server.
    for (QTcpSocket* socket : findChildren<QTcpSocket*>(Qt::FindDirectChildrenOnly)) {
        socket->disconnect(this);
        delete socket;
    }
}

QUrl HttpServer::url() const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(m_server.serverPort()));
}

QUrl HttpServer::url(const QString& path) const
{
    QUrl result = url();
    result.setPath(path);
    return result;
}

void HttpServer::setResponse(const QString& path, Response response)
{
    m_handlers.insert(path, [response](const Request&) { return response; });
}

void HttpServer::setHandler(const QString& path, Handler handler)
{
    m_handlers.insert(path, std::move(handler));
}

QList<HttpServer::Request> HttpServer::requests(const QString& path) const
{
    QList<Request> matching;
    for (const Request& request : m_requests) {
        if (request.path == path)
            matching.append(request);
    }
    return matching;
}

void HttpServer::accept()
{
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        socket->setParent(this);
        m_pending.insert(socket, {});
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readFrom(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            m_pending.remove(socket);
            socket->deleteLater();
        });
        readFrom(socket);
    }
}

void HttpServer::readFrom(QTcpSocket* socket)
{
    auto pending = m_pending.find(socket);
    if (pending == m_pending.end())
        return;
    pending->append(socket->readAll());
    Request request;
    if (!parse(*pending, request))
        return;
    // One request per connection: whatever follows is ignored.
    m_pending.erase(pending);
    m_requests.append(request);
    answer(socket, request);
}

void HttpServer::answer(QTcpSocket* socket, const Request& request)
{
    const Handler handler = m_handlers.value(request.path);
    const Response response = handler ? handler(request) : Response::text("not found", "text/plain", 404);
    if (response.never)
        return;
    // Clients read the status number, not the phrase.
    QByteArray bytes = "HTTP/1.1 " + QByteArray::number(response.status) + " Status\r\n";
    for (const auto& [name, value] : response.headers)
        bytes += name + ": " + value + "\r\n";
    bytes += "Content-Length: " + QByteArray::number(response.body.size()) + "\r\nConnection: close\r\n\r\n";
    bytes += response.body;
    const auto send = [socket, bytes] {
        socket->write(bytes);
        socket->disconnectFromHost();
    };
    if (response.delay.count() > 0)
        QTimer::singleShot(response.delay, socket, send);
    else
        send();
}
