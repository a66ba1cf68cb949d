#include "Phone.h"

#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QRandomGenerator>
#include <QSslCipher>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTcpServer>
#include <QTimer>
#include <QUuid>
#include <QtEndian>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <utility>
#include <vector>

using Plists::Plist;

struct Phone::Link : QObject {
    QSslSocket* socket = nullptr;
    Role role = Role::mux;
    QByteArray buffer;
    bool session = false;
    bool gone = false;
    std::map<quint64, std::unique_ptr<QFile>> files;
    quint64 nextHandle = 1;
};

namespace {

constexpr quint16 lockdownPort = 62078;
constexpr std::chrono::milliseconds unplugGrace{200};
constexpr qsizetype maxMessage = 64 * 1024 * 1024;
constexpr size_t browsePage = 2;
constexpr quint32 muxPlistMessage = 8;
constexpr quint64 deviceID = 1;
const char* const hostID = "5B5E1D3A-0C1F-4E6B-9A57-1C2D3E4F5A6B";
const char* const systemBUID = "0C6F9B5E-7A3D-4B2C-8E1F-2A3B4C5D6E7F";

namespace Afc {
constexpr QByteArrayView magic = "CFA6LPAA";
constexpr qsizetype headerSize = 40;
enum Operation : quint64 {
    status = 0x01,
    data = 0x02,
    makeDirectory = 0x09,
    fileInfo = 0x0a,
    fileOpen = 0x0d,
    fileOpenResult = 0x0e,
    fileWrite = 0x10,
    fileClose = 0x14,
};
enum Status : quint64 {
    success = 0,
    invalidArgument = 7,
    notFound = 8,
    permissionDenied = 10,
    notSupported = 15,
    ioError = 20
};
} // namespace Afc

class UnixListener : public QLocalServer {
public:
    std::function<void(qintptr)> incoming;

protected:
    void incomingConnection(quintptr descriptor) override { incoming(static_cast<qintptr>(descriptor)); }
};

class TcpListener : public QTcpServer {
public:
    std::function<void(qintptr)> incoming;

protected:
    void incomingConnection(qintptr descriptor) override { incoming(descriptor); }
};

QByteArray littleEndian64(quint64 value)
{
    QByteArray bytes(8, '\0');
    qToLittleEndian(value, bytes.data());
    return bytes;
}

quint64 readLittleEndian64(const QByteArray& bytes, qsizetype offset)
{
    return bytes.size() >= offset + 8 ? qFromLittleEndian<quint64>(bytes.constData() + offset) : 0;
}

QByteArray cString(const QByteArray& bytes, qsizetype offset)
{
    if (offset >= bytes.size())
        return {};
    const qsizetype end = bytes.indexOf('\0', offset);
    return bytes.mid(offset, (end < 0 ? bytes.size() : end) - offset);
}

void set(plist_t dict, const char* key, plist_t value)
{
    plist_dict_set_item(dict, key, value);
}

Plist dictionary()
{
    return Plist(plist_new_dict());
}

const char* roleName(int role)
{
    static const char* const names[] = {"usbmuxd", "listener",          "lockdown", "installation_proxy",
                                        "afc",     "notification_proxy"};
    return names[role];
}

void sendFramed(QSslSocket* socket, plist_t message)
{
    const QByteArray body = Plists::xml(message);
    QByteArray length(4, '\0');
    qToBigEndian(static_cast<quint32>(body.size()), length.data());
    socket->write(length + body);
}

void sendMux(QSslSocket* socket, quint32 tag, plist_t message)
{
    const QByteArray body = Plists::xml(message);
    QByteArray header(16, '\0');
    qToLittleEndian(static_cast<quint32>(16 + body.size()), header.data());
    qToLittleEndian(quint32(1), header.data() + 4);
    qToLittleEndian(muxPlistMessage, header.data() + 8);
    qToLittleEndian(tag, header.data() + 12);
    socket->write(header + body);
}

// Lockdown and its services frame each property list with its big-endian length.
std::optional<Plist> takeFramed(QByteArray& in, bool* broken)
{
    if (in.size() < 4)
        return std::nullopt;
    const qsizetype length = qFromBigEndian<quint32>(in.constData());
    if (length > maxMessage) {
        *broken = true;
        return std::nullopt;
    }
    if (in.size() < 4 + length)
        return std::nullopt;
    Plist message = Plists::parse(in.mid(4, length));
    in.remove(0, 4 + length);
    if (!message || plist_get_node_type(message.get()) != PLIST_DICT) {
        *broken = true;
        return std::nullopt;
    }
    return message;
}

} // namespace

Phone::Phone(Scenario scenario, Identity identity, const QString& received)
    : m_scenario(std::move(scenario))
    , m_identity(std::move(identity))
    , m_certificate(m_identity.deviceCertificate)
    , m_key(m_identity.deviceKey, QSsl::Rsa)
    , m_media(received + QStringLiteral("/media"))
    , m_events(received + QStringLiteral("/events"))
{
    QDir().mkpath(m_media);
    if (!m_events.open(QIODevice::WriteOnly | QIODevice::Append))
        std::fprintf(stderr, "loopback-phone: cannot write %s\n", qPrintable(m_events.fileName()));
}

QString Phone::listen(const QString& address, QString* error)
{
    if (m_scenario.network) {
        // A network phone is reached at its own address on lockdown's fixed port, so each run
        // takes an address of its own from the loopback range.
        for (int attempt = 0; attempt < 32 && m_networkAddress.isNull(); ++attempt) {
            auto* random = QRandomGenerator::global();
            const QHostAddress candidate((127u << 24) | (random->bounded(1u, 255u) << 16) | (random->bounded(256u) << 8)
                                         | random->bounded(1u, 255u));
            auto* server = new TcpListener;
            server->setParent(this);
            server->incoming = [this](qintptr descriptor) { adopt(descriptor, Role::lockdown); };
            if (server->listen(candidate, lockdownPort)) {
                m_networkAddress = candidate;
                m_phoneServers.append(server);
            } else {
                delete server;
            }
        }
        if (m_networkAddress.isNull()) {
            *error = QStringLiteral("no loopback address with port %1 free").arg(lockdownPort);
            return {};
        }
    }

    if (address.startsWith(QLatin1String("UNIX:"))) {
        const QString path = address.mid(5);
        auto* server = new UnixListener;
        server->setParent(this);
        server->incoming = [this](qintptr descriptor) { adopt(descriptor, Role::mux); };
        QLocalServer::removeServer(path);
        if (!server->listen(path)) {
            *error = server->errorString();
            return {};
        }
        return QStringLiteral("UNIX:") + server->fullServerName();
    }
    const qsizetype colon = address.lastIndexOf(QLatin1Char(':'));
    bool validPort = false;
    const quint16 port = address.mid(colon + 1).toUShort(&validPort);
    const QHostAddress host(address.left(colon));
    if (colon < 0 || !validPort || host.isNull()) {
        *error = QStringLiteral("not UNIX:/path or HOST:PORT: ") + address;
        return {};
    }
    auto* server = new TcpListener;
    server->setParent(this);
    server->incoming = [this](qintptr descriptor) { adopt(descriptor, Role::mux); };
    if (!server->listen(host, port)) {
        *error = server->errorString();
        return {};
    }
    return host.toString() + QLatin1Char(':') + QString::number(server->serverPort());
}

void Phone::adopt(qintptr descriptor, Role role)
{
    auto* link = new Link;
    link->setParent(this);
    link->role = role;
    link->socket = new QSslSocket(link);
    // QSslSocket takes a UNIX socket as readily as a TCP one, so both muxes can hand a
    // connection over to lockdown's TLS session.
    if (!link->socket->setSocketDescriptor(descriptor)) {
        std::fprintf(stderr, "loopback-phone: %s\n", qPrintable(link->socket->errorString()));
        delete link;
        return;
    }
    m_links.append(link);
    connect(link->socket, &QSslSocket::readyRead, link, [this, link] { readable(link); });
    connect(link->socket, &QSslSocket::disconnected, link, [this, link] { drop(link); });
    connect(link->socket, &QSslSocket::encrypted, link, [this, link] {
        note(QStringLiteral("tls ") + link->socket->sessionCipher().protocolString() + QLatin1Char(' ')
             + link->socket->sessionCipher().name());
    });
    connect(link->socket, &QSslSocket::errorOccurred, link, [link](QAbstractSocket::SocketError error) {
        if (error == QAbstractSocket::SslHandshakeFailedError || error == QAbstractSocket::SslInternalError)
            std::fprintf(stderr, "loopback-phone: TLS: %s\n", qPrintable(link->socket->errorString()));
    });
}

void Phone::drop(Link* link)
{
    link->gone = true;
    if (!m_links.removeOne(link))
        return;
    if (link->role != Role::mux && link->role != Role::listener)
        note(QStringLiteral("closed ") + QLatin1String(roleName(static_cast<int>(link->role))));
    link->deleteLater();
}

void Phone::readable(Link* link)
{
    if (link->gone)
        return;
    link->buffer += link->socket->readAll();
    bool more = true;
    while (more && !link->gone) {
        switch (link->role) {
        case Role::mux:
        case Role::listener:
            more = handleMux(link);
            break;
        case Role::lockdown:
            more = handleLockdown(link);
            break;
        case Role::installationProxy:
        case Role::notificationProxy:
            more = handleInstaller(link);
            break;
        case Role::afc:
            more = handleAfc(link);
            break;
        }
    }
}

bool Phone::handleMux(Link* link)
{
    QByteArray& in = link->buffer;
    if (in.size() < 16)
        return false;
    const quint32 length = qFromLittleEndian<quint32>(in.constData());
    if (length < 16 || length > maxMessage) {
        link->socket->abort();
        return false;
    }
    if (in.size() < qsizetype(length))
        return false;
    const quint32 type = qFromLittleEndian<quint32>(in.constData() + 8);
    const quint32 tag = qFromLittleEndian<quint32>(in.constData() + 12);
    const Plist message = type == muxPlistMessage ? Plists::parse(in.mid(16, length - 16)) : Plist();
    in.remove(0, length);

    const QByteArray kind = Plists::text(message.get(), "MessageType");
    const auto result = [&](quint64 number) {
        const Plist reply = dictionary();
        set(reply.get(), "MessageType", Plists::string("Result"));
        set(reply.get(), "Number", plist_new_uint(number));
        sendMux(link->socket, tag, reply.get());
    };
    if (kind == "ListDevices") {
        const Plist reply = dictionary();
        plist_t list = plist_new_array();
        if (m_scenario.attached) {
            plist_t entry = plist_new_dict();
            set(entry, "DeviceID", plist_new_uint(deviceID));
            set(entry, "MessageType", Plists::string("Attached"));
            set(entry, "Properties", deviceProperties().release());
            plist_array_append_item(list, entry);
        }
        set(reply.get(), "DeviceList", list);
        sendMux(link->socket, tag, reply.get());
    } else if (kind == "Listen") {
        result(0);
        link->role = Role::listener;
        if (m_scenario.attached) {
            const Plist event = dictionary();
            set(event.get(), "DeviceID", plist_new_uint(deviceID));
            set(event.get(), "MessageType", Plists::string("Attached"));
            set(event.get(), "Properties", deviceProperties().release());
            sendMux(link->socket, 0, event.get());
        }
        if (m_unplugWhenWatched) {
            // The tool stops reading progress once it learns of the removal: let it print the
            // steps it already has.
            m_unplugWhenWatched = false;
            QTimer::singleShot(unplugGrace, this, [this] { unplug(); });
        }
    } else if (kind == "Connect") {
        // The port travels in network byte order inside the plist's integer.
        const quint16 port = qFromBigEndian(static_cast<quint16>(Plists::number(message.get(), "PortNumber")));
        const bool reachable =
            m_scenario.attached && !m_scenario.network && Plists::number(message.get(), "DeviceID") == deviceID;
        if (!reachable) {
            result(2);
        } else if (port != lockdownPort && !m_usbPorts.contains(port)) {
            result(3);
        } else {
            result(0);
            link->role = port == lockdownPort ? Role::lockdown : m_usbPorts.value(port);
        }
    } else if (kind == "ReadBUID") {
        const Plist reply = dictionary();
        set(reply.get(), "BUID", Plists::string(systemBUID));
        sendMux(link->socket, tag, reply.get());
    } else if (kind == "ReadPairRecord") {
        if (m_scenario.trusted && Plists::text(message.get(), "PairRecordID") == m_scenario.udid.toUtf8()) {
            const Plist reply = dictionary();
            set(reply.get(), "PairRecordData", Plists::data(pairRecord()));
            sendMux(link->socket, tag, reply.get());
        } else {
            result(2);
        }
    } else if (kind == "SavePairRecord" || kind == "DeletePairRecord") {
        result(0);
    } else {
        result(1);
    }
    return true;
}

bool Phone::handleLockdown(Link* link)
{
    bool broken = false;
    const std::optional<Plist> request = takeFramed(link->buffer, &broken);
    if (!request) {
        if (broken)
            link->socket->abort();
        return false;
    }
    const QByteArray kind = Plists::text(request->get(), "Request");
    note(QStringLiteral("lockdown ") + QString::fromUtf8(kind));
    const Plist reply = dictionary();
    set(reply.get(), "Request", Plists::string(kind.constData()));

    if (kind == "QueryType") {
        set(reply.get(), "Type", Plists::string("com.apple.mobile.lockdown"));
    } else if (kind == "GetValue") {
        const QByteArray domain = Plists::text(request->get(), "Domain");
        const QByteArray key = Plists::text(request->get(), "Key");
        if (!domain.isEmpty())
            set(reply.get(), "Domain", Plists::string(domain.constData()));
        if (!key.isEmpty())
            set(reply.get(), "Key", Plists::string(key.constData()));
        const Plist values = domain.isEmpty() ? lockdownValues() : dictionary();
        const plist_t value = key.isEmpty() ? values.get() : plist_dict_get_item(values.get(), key.constData());
        if (value)
            set(reply.get(), "Value", plist_copy(value));
        else
            set(reply.get(), "Error", Plists::string("MissingValue"));
    } else if (kind == "Pair" || kind == "ValidatePair") {
        if (!m_scenario.trusted)
            set(reply.get(), "Error", Plists::string(m_scenario.pairError));
    } else if (kind == "StartSession") {
        if (!m_scenario.trusted) {
            set(reply.get(), "Error", Plists::string("InvalidHostID"));
        } else {
            set(reply.get(), "SessionID", Plists::string(QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper()));
            set(reply.get(), "EnableSessionSSL", plist_new_bool(1));
            sendFramed(link->socket, reply.get());
            QSslConfiguration tls = link->socket->sslConfiguration();
            tls.setLocalCertificate(m_certificate);
            tls.setPrivateKey(m_key);
            tls.setPeerVerifyMode(QSslSocket::VerifyNone);
            link->socket->setSslConfiguration(tls);
            link->socket->startServerEncryption();
            link->session = true;
            return true;
        }
    } else if (kind == "StopSession") {
        // Qt cannot take a socket back to plain text; every client closes right after this anyway.
        link->session = false;
    } else if (kind == "StartService") {
        const QByteArray service = Plists::text(request->get(), "Service");
        set(reply.get(), "Service", Plists::string(service.constData()));
        const std::pair<const char*, Role> services[] = {
            {"com.apple.mobile.installation_proxy", Role::installationProxy},
            {"com.apple.afc", Role::afc},
            {"com.apple.mobile.notification_proxy", Role::notificationProxy}};
        const auto known = std::find_if(std::begin(services), std::end(services),
                                        [&](const auto& entry) { return service == entry.first; });
        if (!link->session)
            set(reply.get(), "Error", Plists::string("SessionInactive"));
        else if (known == std::end(services))
            set(reply.get(), "Error", Plists::string("InvalidService"));
        else
            set(reply.get(), "Port", plist_new_uint(openService(known->second)));
    } else if (kind == "Goodbye") {
        set(reply.get(), "Result", Plists::string("Success"));
        sendFramed(link->socket, reply.get());
        link->socket->disconnectFromHost();
        return false;
    } else {
        set(reply.get(), "Error", Plists::string("InvalidRequest"));
    }
    sendFramed(link->socket, reply.get());
    return true;
}

bool Phone::handleInstaller(Link* link)
{
    bool broken = false;
    const std::optional<Plist> command = takeFramed(link->buffer, &broken);
    if (!command) {
        if (broken)
            link->socket->abort();
        return false;
    }
    if (link->role == Role::notificationProxy)
        return true;
    const QByteArray name = Plists::text(command->get(), "Command");
    if (name == "Browse") {
        browse(link, command->get());
    } else if (name == "Install" || name == "Upgrade") {
        install(link, command->get());
    } else {
        const Plist reply = dictionary();
        set(reply.get(), "Error", Plists::string("UnknownCommand"));
        sendFramed(link->socket, reply.get());
    }
    return true;
}

void Phone::browse(Link* link, plist_t command)
{
    const plist_t options = plist_dict_get_item(command, "ClientOptions");
    const QByteArray type = Plists::text(options, "ApplicationType");
    const plist_t attributes = options ? plist_dict_get_item(options, "ReturnAttributes") : nullptr;
    std::vector<Plist> apps;
    for (const QJsonValue& value : std::as_const(m_scenario.apps)) {
        const QJsonObject object = value.toObject();
        const QString appType = object.value(QLatin1String("ApplicationType")).toString(QStringLiteral("User"));
        if (!type.isEmpty() && type != "Any" && appType.toUtf8() != type)
            continue;
        Plist app(Plists::fromJson(object));
        if (attributes && plist_get_node_type(attributes) == PLIST_ARRAY) {
            Plist kept = dictionary();
            for (uint32_t i = 0; i < plist_array_get_size(attributes); ++i) {
                char* key = nullptr;
                plist_get_string_val(plist_array_get_item(attributes, i), &key);
                if (key)
                    if (const plist_t item = plist_dict_get_item(app.get(), key))
                        set(kept.get(), key, plist_copy(item));
                std::free(key);
            }
            app = std::move(kept);
        }
        apps.push_back(std::move(app));
    }
    for (size_t index = 0; index < apps.size(); index += browsePage) {
        const size_t end = std::min(apps.size(), index + browsePage);
        const Plist page = dictionary();
        plist_t list = plist_new_array();
        for (size_t i = index; i < end; ++i)
            plist_array_append_item(list, apps[i].release());
        set(page.get(), "CurrentAmount", plist_new_uint(end - index));
        set(page.get(), "CurrentIndex", plist_new_uint(index));
        set(page.get(), "CurrentList", list);
        set(page.get(), "Status", Plists::string("BrowsingApplications"));
        set(page.get(), "Total", plist_new_uint(apps.size()));
        sendFramed(link->socket, page.get());
    }
    const Plist complete = dictionary();
    set(complete.get(), "Status", Plists::string("Complete"));
    sendFramed(link->socket, complete.get());
}

void Phone::install(Link* link, plist_t command)
{
    note(QStringLiteral("install ") + QString::fromUtf8(Plists::text(command, "PackagePath")));
    const bool troubled = m_scenario.trouble != Scenario::Trouble::none;
    const qsizetype steps = troubled ? std::min<qsizetype>(m_scenario.stepsBeforeTrouble, m_scenario.steps.size())
                                     : m_scenario.steps.size();
    for (qsizetype i = 0; i < steps; ++i) {
        const Plist progress = dictionary();
        set(progress.get(), "PercentComplete", plist_new_uint(static_cast<quint64>(m_scenario.steps[i].percent)));
        set(progress.get(), "Status", Plists::string(m_scenario.steps[i].status));
        sendFramed(link->socket, progress.get());
    }

    const Plist last = dictionary();
    switch (m_scenario.trouble) {
    case Scenario::Trouble::none:
    case Scenario::Trouble::unplugDuringUpload:
        set(last.get(), "Status", Plists::string("Complete"));
        sendFramed(link->socket, last.get());
        break;
    case Scenario::Trouble::refuse:
        set(last.get(), "Error", Plists::string(m_scenario.errorName));
        if (!m_scenario.errorDescription.isEmpty())
            set(last.get(), "ErrorDescription", Plists::string(m_scenario.errorDescription));
        if (m_scenario.errorCode != 0)
            set(last.get(), "ErrorDetail", plist_new_uint(m_scenario.errorCode));
        sendFramed(link->socket, last.get());
        break;
    case Scenario::Trouble::unplugDuringInstall: {
        // ideviceinstaller learns of a pulled cable only through its mux listener, which it opens
        // after sending the command: pull it once that listener is there.
        const bool watched = std::any_of(m_links.cbegin(), m_links.cend(),
                                         [](const Link* other) { return other->role == Role::listener; });
        if (watched)
            QTimer::singleShot(unplugGrace, this, [this] { unplug(); });
        else
            m_unplugWhenWatched = true;
        break;
    }
    case Scenario::Trouble::hang:
        break;
    }
}

bool Phone::handleAfc(Link* link)
{
    QByteArray& in = link->buffer;
    if (in.size() < Afc::headerSize)
        return false;
    if (!in.startsWith(Afc::magic)) {
        link->socket->abort();
        return false;
    }
    const quint64 entire = readLittleEndian64(in, 8);
    const quint64 own = readLittleEndian64(in, 16);
    const quint64 number = readLittleEndian64(in, 24);
    const quint64 operation = readLittleEndian64(in, 32);
    if (own < Afc::headerSize || entire < own || entire > quint64(maxMessage)) {
        link->socket->abort();
        return false;
    }
    if (operation == Afc::fileWrite && m_scenario.trouble == Scenario::Trouble::unplugDuringUpload) {
        unplug();
        return false;
    }
    if (in.size() < qsizetype(entire))
        return false;
    const QByteArray header = in.mid(Afc::headerSize, qsizetype(own) - Afc::headerSize);
    const QByteArray payload = in.mid(qsizetype(own), qsizetype(entire - own));
    in.remove(0, qsizetype(entire));
    afcOperation(link, number, operation, header, payload);
    return true;
}

void Phone::afcOperation(Link* link, quint64 number, quint64 operation, const QByteArray& header,
                         const QByteArray& payload)
{
    const auto reply = [&](quint64 kind, const QByteArray& data) {
        const QByteArray length = littleEndian64(quint64(Afc::headerSize + data.size()));
        link->socket->write(Afc::magic.toByteArray() + length + length + littleEndian64(number) + littleEndian64(kind)
                            + data);
    };
    const auto status = [&](quint64 code) { reply(Afc::status, littleEndian64(code)); };

    switch (operation) {
    case Afc::fileInfo: {
        const QString path = mediaPath(cString(header, 0));
        const QFileInfo info(path);
        if (path.isEmpty() || !info.exists())
            return status(Afc::notFound);
        const QByteArray size = QByteArray::number(info.isDir() ? 4096 : info.size());
        const QByteArray time = QByteArray::number(info.lastModified().toMSecsSinceEpoch() * 1000000);
        QByteArray answer;
        for (const QByteArray& part :
             {QByteArray("st_size"), size, QByteArray("st_blocks"), QByteArray::number((size.toLongLong() + 511) / 512),
              QByteArray("st_nlink"), QByteArray(info.isDir() ? "2" : "1"), QByteArray("st_ifmt"),
              QByteArray(info.isDir() ? "S_IFDIR" : "S_IFREG"), QByteArray("st_mtime"), time,
              QByteArray("st_birthtime"), time})
            answer += part + '\0';
        return reply(Afc::data, answer);
    }
    case Afc::makeDirectory: {
        const QString path = mediaPath(cString(header, 0));
        if (path.isEmpty())
            return status(Afc::permissionDenied);
        return status(QDir().mkpath(path) ? Afc::success : Afc::ioError);
    }
    case Afc::fileOpen: {
        const QByteArray afcPath = cString(header, 8);
        const QString path = mediaPath(afcPath);
        if (path.isEmpty())
            return status(Afc::permissionDenied);
        // The modes of fopen: r, r+, w, w+, a, a+.
        static const QIODevice::OpenMode modes[] = {QIODevice::ReadOnly,
                                                    QIODevice::ReadWrite,
                                                    QIODevice::WriteOnly | QIODevice::Truncate,
                                                    QIODevice::ReadWrite | QIODevice::Truncate,
                                                    QIODevice::WriteOnly | QIODevice::Append,
                                                    QIODevice::ReadWrite | QIODevice::Append};
        const quint64 mode = readLittleEndian64(header, 0);
        if (mode < 1 || mode > 6)
            return status(Afc::invalidArgument);
        auto file = std::make_unique<QFile>(path);
        if (!file->open(modes[mode - 1]))
            return status(Afc::notFound);
        note(QStringLiteral("afc open ") + QString::fromUtf8(afcPath));
        const quint64 handle = link->nextHandle++;
        link->files[handle] = std::move(file);
        return reply(Afc::fileOpenResult, littleEndian64(handle));
    }
    case Afc::fileWrite: {
        const auto file = link->files.find(readLittleEndian64(header, 0));
        if (file == link->files.end())
            return status(Afc::invalidArgument);
        const bool written = file->second->write(payload) == payload.size() && file->second->flush();
        return status(written ? Afc::success : Afc::ioError);
    }
    case Afc::fileClose:
        return status(link->files.erase(readLittleEndian64(header, 0)) ? Afc::success : Afc::invalidArgument);
    default:
        return status(Afc::notSupported);
    }
}

Plist Phone::deviceProperties() const
{
    Plist properties = dictionary();
    plist_t dict = properties.get();
    set(dict, "ConnectionType", Plists::string(m_scenario.network ? "Network" : "USB"));
    set(dict, "DeviceID", plist_new_uint(deviceID));
    set(dict, "SerialNumber", Plists::string(m_scenario.udid));
    if (m_scenario.network) {
        // A BSD sockaddr_in, as the mux daemon hands it on: length, family, port, address.
        QByteArray address(16, '\0');
        address[0] = 16;
        address[1] = 2;
        qToBigEndian(lockdownPort, address.data() + 2);
        qToBigEndian(m_networkAddress.toIPv4Address(), address.data() + 4);
        set(dict, "NetworkAddress", Plists::data(address));
    } else {
        set(dict, "ConnectionSpeed", plist_new_uint(480000000));
        set(dict, "LocationID", plist_new_uint(0x14100000));
        set(dict, "ProductID", plist_new_uint(0x12a8));
    }
    return properties;
}

Plist Phone::lockdownValues() const
{
    Plist values = dictionary();
    plist_t dict = values.get();
    set(dict, "ActivationState", Plists::string("Activated"));
    set(dict, "BuildVersion", Plists::string("20G75"));
    set(dict, "CPUArchitecture", Plists::string("arm64e"));
    set(dict, "DeviceClass", Plists::string("iPhone"));
    set(dict, "DeviceName", Plists::string(m_scenario.name));
    set(dict, "DevicePublicKey", Plists::data(m_identity.devicePublicKey));
    set(dict, "HardwareModel", Plists::string("D16AP"));
    set(dict, "ProductName", Plists::string("iPhone OS"));
    set(dict, "ProductType", Plists::string(m_scenario.productType));
    set(dict, "ProductVersion", Plists::string(m_scenario.productVersion));
    set(dict, "SerialNumber", Plists::string("F2LLOOPBACK1"));
    set(dict, "UniqueDeviceID", Plists::string(m_scenario.udid));
    set(dict, "WiFiAddress", Plists::string("a4:c3:37:0b:1e:01"));
    return values;
}

QByteArray Phone::pairRecord() const
{
    const Plist record = dictionary();
    set(record.get(), "DeviceCertificate", Plists::data(m_identity.deviceCertificate));
    set(record.get(), "HostCertificate", Plists::data(m_identity.hostCertificate));
    set(record.get(), "HostID", Plists::string(hostID));
    set(record.get(), "HostPrivateKey", Plists::data(m_identity.hostKey));
    set(record.get(), "RootCertificate", Plists::data(m_identity.rootCertificate));
    set(record.get(), "RootPrivateKey", Plists::data(m_identity.rootKey));
    set(record.get(), "SystemBUID", Plists::string(systemBUID));
    set(record.get(), "WiFiMACAddress", Plists::string("a4:c3:37:0b:1e:01"));
    return Plists::xml(record.get());
}

quint16 Phone::openService(Role role)
{
    if (!m_scenario.network) {
        const quint16 port = m_nextUsbPort++;
        m_usbPorts.insert(port, role);
        return port;
    }
    auto* server = new TcpListener;
    server->setParent(this);
    server->incoming = [this, role](qintptr descriptor) { adopt(descriptor, role); };
    if (!server->listen(m_networkAddress, 0)) {
        delete server;
        return 0;
    }
    m_phoneServers.append(server);
    return server->serverPort();
}

// Uploads stay inside the media folder, whatever path the client sends.
QString Phone::mediaPath(const QByteArray& afcPath) const
{
    QString relative = QDir::cleanPath(QString::fromUtf8(afcPath));
    while (relative.startsWith(QLatin1Char('/')))
        relative.remove(0, 1);
    if (relative == QLatin1String("..") || relative.startsWith(QLatin1String("../")))
        return {};
    return relative.isEmpty() ? m_media : m_media + QLatin1Char('/') + relative;
}

void Phone::unplug()
{
    if (!m_scenario.attached)
        return;
    m_scenario.attached = false;
    m_unplugWhenWatched = false;
    note(QStringLiteral("unplugged"));
    const QList<Link*> links = m_links;
    for (Link* link : links) {
        if (link->role == Role::listener) {
            const Plist event = dictionary();
            set(event.get(), "DeviceID", plist_new_uint(deviceID));
            set(event.get(), "MessageType", Plists::string("Detached"));
            sendMux(link->socket, 0, event.get());
        } else if (link->role != Role::mux) {
            // What was sent before the pull arrives; only what comes after is lost.
            link->socket->flush();
            link->gone = true;
            link->socket->abort();
            drop(link);
        }
    }
    qDeleteAll(m_phoneServers);
    m_phoneServers.clear();
    m_usbPorts.clear();
}

void Phone::note(const QString& event)
{
    m_events.write(event.toUtf8() + '\n');
    m_events.flush();
}
