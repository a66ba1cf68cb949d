#pragma once

#include "Plist.h"
#include "Scenario.h"

#include <QByteArray>
#include <QFile>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QSslCertificate>
#include <QSslKey>
#include <QString>

class QTcpServer;

/// The usbmuxd, lockdownd, AFC and installation_proxy of one phone, on loopback sockets.
class Phone : public QObject {
public:
    /// The pair record's certificates and keys, as PEM.
    struct Identity {
        QByteArray rootCertificate, rootKey, hostCertificate, hostKey, deviceCertificate, deviceKey, devicePublicKey;
    };

    /// `received` gets the files uploaded over AFC (under media/) and a line per notable event (events).
    Phone(Scenario scenario, Identity identity, const QString& received);

    /// "UNIX:/path" or "127.0.0.1:PORT" (port 0 picks one). Returns the address as a client
    /// writes it, or an empty string with `error` set.
    QString listen(const QString& address, QString* error);

private:
    enum class Role { mux, listener, lockdown, installationProxy, afc, notificationProxy };
    struct Link;

    void adopt(qintptr descriptor, Role role);
    void drop(Link* link);
    void readable(Link* link);
    bool handleMux(Link* link);
    bool handleLockdown(Link* link);
    bool handleInstaller(Link* link);
    bool handleAfc(Link* link);
    void browse(Link* link, plist_t command);
    void install(Link* link, plist_t command);
    void afcOperation(Link* link, quint64 number, quint64 operation, const QByteArray& header,
                      const QByteArray& payload);

    Plists::Plist deviceProperties() const;
    Plists::Plist lockdownValues() const;
    QByteArray pairRecord() const;
    quint16 openService(Role role);
    QString mediaPath(const QByteArray& afcPath) const;
    void unplug();
    void note(const QString& event);

    Scenario m_scenario;
    Identity m_identity;
    QSslCertificate m_certificate;
    QSslKey m_key;
    QString m_media;
    QFile m_events;
    QHostAddress m_networkAddress;
    QList<Link*> m_links;
    QList<QTcpServer*> m_phoneServers;
    QHash<quint16, Role> m_usbPorts;
    quint16 m_nextUsbPort = 49152;
    bool m_unplugWhenWatched = false;
};
