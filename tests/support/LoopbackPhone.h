#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <optional>

/// Points libusbmuxd, in this process and every child it starts, at a mux daemon address
/// (USBMUXD_SOCKET_ADDRESS) and puts the old value back when it goes.
class MuxAddress {
public:
    explicit MuxAddress(const QString& address);
    ~MuxAddress();
    MuxAddress(const MuxAddress&) = delete;
    MuxAddress& operator=(const MuxAddress&) = delete;

private:
    std::optional<QByteArray> m_old;
};

/// A phone the real idevice_id, ideviceinfo and ideviceinstaller talk to: quorrel-loopback-phone
/// running one scenario (tests/support/README.md), the tools' mux daemon while this object lives.
class LoopbackPhone {
public:
    enum class Transport { unixSocket, tcp };

    /// `config` overrides the scenario's phone and install; the UDID and name get test defaults.
    /// Returns once the daemon listens; a phone that cannot start fails the test.
    explicit LoopbackPhone(const QString& scenario, QJsonObject config = {},
                           Transport transport = Transport::unixSocket);
    ~LoopbackPhone();
    LoopbackPhone(const LoopbackPhone&) = delete;
    LoopbackPhone& operator=(const LoopbackPhone&) = delete;

    QString udid() const;
    QString name() const;
    /// As USBMUXD_SOCKET_ADDRESS holds it: "UNIX:/path" or "127.0.0.1:PORT".
    QString address() const { return m_address; }
    /// A file as uploaded over AFC, such as "PublicStaging/com.example.app"; empty when absent.
    QByteArray uploaded(const QString& path) const;
    /// What the phone saw, a line each: "install PublicStaging/…", "unplugged", "closed afc", …
    QStringList events() const;

    /// Links Debian's idevice_id, ideviceinfo and ideviceinstaller into `folder`, where the
    /// application looks for its tools first; false when one is missing.
    static bool linkRealTools(const QString& folder);
    /// An .ipa holding Payload/Demo.app (com.example.demo), without CFBundleExecutable unless `runnable`.
    static QString writeArchive(const QString& folder, const QString& name, bool runnable = true);

private:
    QTemporaryDir m_dir;
    QJsonObject m_config;
    QProcess m_process;
    QString m_address;
    std::optional<MuxAddress> m_mux;
};
