#include "demo/DemoUpdateServer.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTimer>

#include <utility>

namespace {

constexpr qint64 chunkSize = 256 * 1024;
constexpr qsizetype maxRequestSize = 16 * 1024;

QByteArray reasonFor(int status)
{
    return status == 200 ? "OK" : status == 404 ? "Not Found" : "Bad Request";
}

void respond(QTcpSocket* socket, int status, const QByteArray& type, qint64 length)
{
    socket->write("HTTP/1.1 " + QByteArray::number(status) + ' ' + reasonFor(status) + "\r\nContent-Type: " + type
                  + "\r\nContent-Length: " + QByteArray::number(length) + "\r\nConnection: close\r\n\r\n");
}

void respond(QTcpSocket* socket, int status, const QByteArray& type, const QByteArray& body)
{
    respond(socket, status, type, body.size());
    socket->write(body);
    socket->disconnectFromHost();
}

} // namespace

DemoUpdateServer::DemoUpdateServer(QObject* parent)
    : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, &DemoUpdateServer::accept);
}

bool DemoUpdateServer::listen(quint16 port)
{
    return m_server.listen(QHostAddress::LocalHost, port);
}

QUrl DemoUpdateServer::url(const QString& path) const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(m_server.serverPort()).arg(path));
}

void DemoUpdateServer::setOffer(QJsonObject manifest, QString archive)
{
    m_offer = std::move(manifest);
    m_archive = std::move(archive);
    noOffer();
}

void DemoUpdateServer::noOffer()
{
    m_offerComing = false;
    const QList<Waiting> waiting = std::exchange(m_waiting, {});
    for (const Waiting& request : waiting) {
        if (request.socket)
            answer(request.socket, request.path, request.query);
    }
}

void DemoUpdateServer::accept()
{
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { read(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            m_pending.remove(socket);
            socket->deleteLater();
        });
    }
}

void DemoUpdateServer::read(QTcpSocket* socket)
{
    if (!m_pending.contains(socket) && socket->property("answered").toBool())
        return;
    QByteArray& request = m_pending[socket];
    request += socket->readAll();
    const qsizetype end = request.indexOf("\r\n\r\n");
    if (end < 0) {
        if (request.size() > maxRequestSize)
            respond(socket, 400, "text/plain", QByteArray("too long"));
        return;
    }
    const QList<QByteArray> line = request.left(request.indexOf("\r\n")).split(' ');
    m_pending.remove(socket);
    socket->setProperty("answered", true);
    if (line.size() != 3 || line.at(0) != "GET") {
        respond(socket, 400, "text/plain", QByteArray("GET only"));
        return;
    }
    const QByteArray target = line.at(1);
    const qsizetype question = target.indexOf('?');
    const QByteArray path = question < 0 ? target : target.left(question);
    const QUrlQuery query(question < 0 ? QString() : QString::fromUtf8(target.mid(question + 1)));
    QTimer::singleShot(m_delay, socket, [this, socket, path, query] { answer(socket, path, query); });
}

void DemoUpdateServer::answer(QTcpSocket* socket, const QByteArray& path, const QUrlQuery& query)
{
    if (path == "/lookup" && m_lookup) {
        respond(socket, 200, "application/json", m_lookup(query));
        return;
    }
    static const QRegularExpression iconPath(QStringLiteral("^/icons/(icon-[0-9]+\\.png)$"));
    const QRegularExpressionMatch icon = iconPath.match(QString::fromLatin1(path));
    if (icon.hasMatch() && !m_icons.isEmpty()) {
        QFile file(QDir(m_icons).filePath(icon.captured(1)));
        if (file.open(QIODevice::ReadOnly))
            respond(socket, 200, "image/png", file.readAll());
        else
            respond(socket, 404, "text/plain", QByteArray("no icon"));
    } else if (m_offer.isEmpty() && m_offerComing) {
        m_waiting.append({socket, path, query});
    } else if (m_offer.isEmpty()) {
        respond(socket, 404, "text/plain", QByteArray("no offer"));
    } else if (path == "/appcast.json") {
        QJsonObject manifest = m_offer;
        manifest.insert(QStringLiteral("url"), url(QStringLiteral("/Quorrel.zip")).toString());
        manifest.insert(QStringLiteral("page"), url(QStringLiteral("/")).toString());
        respond(socket, 200, "application/json", QJsonDocument(manifest).toJson());
    } else if (path == "/Quorrel.zip") {
        sendFile(socket, m_archive);
    } else if (path == "/") {
        const QString version = m_offer.value(QStringLiteral("version")).toString();
        const QString notes = m_offer.value(QStringLiteral("notes")).toString();
        const QString page = QStringLiteral("<!doctype html><meta charset=\"utf-8\"><title>Quorrel ")
                             + version.toHtmlEscaped() + QStringLiteral("</title><h1>Quorrel ")
                             + version.toHtmlEscaped() + QStringLiteral("</h1><p style=\"white-space: pre-wrap\">")
                             + notes.toHtmlEscaped() + QStringLiteral("</p>");
        respond(socket, 200, "text/html; charset=utf-8", page.toUtf8());
    } else {
        respond(socket, 404, "text/plain", QByteArray("not found"));
    }
}

// Sent a piece at a time, so a large bundle never sits in memory whole.
void DemoUpdateServer::sendFile(QTcpSocket* socket, const QString& path)
{
    auto* file = new QFile(path, socket);
    if (!file->open(QIODevice::ReadOnly)) {
        respond(socket, 404, "text/plain", QByteArray("no archive"));
        return;
    }
    respond(socket, 200, "application/zip", file->size());
    const auto more = [socket, file] {
        if (socket->bytesToWrite() > chunkSize || socket->state() != QAbstractSocket::ConnectedState)
            return;
        if (file->atEnd()) {
            socket->disconnectFromHost(); // once the rest is written
            return;
        }
        socket->write(file->read(chunkSize));
    };
    connect(socket, &QTcpSocket::bytesWritten, file, more);
    more();
}
