#include "support/LoopbackPhone.h"

#include "common/AtomicFile.h"
#include "support/AsyncTest.h"
#include "support/UpdateFixture.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>

#include <gtest/gtest.h>

namespace {

const char* const variable = "USBMUXD_SOCKET_ADDRESS";

QByteArray readFile(const QString& path)
{
    return AtomicFile::read(path).value_or(QByteArray());
}

} // namespace

MuxAddress::MuxAddress(const QString& address)
{
    if (qEnvironmentVariableIsSet(variable))
        m_old = qgetenv(variable);
    qputenv(variable, address.toUtf8());
}

MuxAddress::~MuxAddress()
{
    if (m_old)
        qputenv(variable, *m_old);
    else
        qunsetenv(variable);
}

LoopbackPhone::LoopbackPhone(const QString& scenario, QJsonObject config, Transport transport)
    : m_config(std::move(config))
{
    if (!m_config.contains("udid"))
        m_config.insert("udid", "00008110-000A1C2E3E90801E");
    if (!m_config.contains("name"))
        m_config.insert("name", "iPhone Лены");
    const QString configPath = m_dir.filePath("phone.json");
    UpdateFixture::writeFile(configPath, QJsonDocument(m_config).toJson());

    m_process.setProgram(QUORREL_LOOPBACK_PHONE_PATH);
    const QString listen = transport == Transport::tcp ? QString("127.0.0.1:0") : "UNIX:" + m_dir.filePath("usbmuxd");
    m_process.setArguments({"--listen", listen, "--scenario", scenario, "--config", configPath, "--received",
                            m_dir.filePath("received"), "--data", QString(QUORREL_TEST_DATA_DIR) + "/phone"});
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(QIODevice::ReadOnly);
    QByteArray line;
    AsyncTest::waitUntil(
        [&] {
            line += m_process.readAllStandardOutput();
            return line.contains('\n') || m_process.state() == QProcess::NotRunning;
        },
        std::chrono::seconds(30));
    if (!line.startsWith("listening ") || !line.endsWith('\n')) {
        ADD_FAILURE() << "quorrel-loopback-phone did not start (" << m_process.errorString().toStdString()
                      << "): " << line.toStdString();
        return;
    }
    m_address = QString::fromUtf8(line.mid(10).trimmed());
    m_mux.emplace(m_address);
}

LoopbackPhone::~LoopbackPhone()
{
    m_mux.reset();
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(10000)) {
        m_process.kill();
        m_process.waitForFinished(10000);
    }
}

QString LoopbackPhone::udid() const
{
    return m_config.value("udid").toString();
}

QString LoopbackPhone::name() const
{
    return m_config.value("name").toString();
}

QByteArray LoopbackPhone::uploaded(const QString& path) const
{
    return readFile(m_dir.filePath("received/media/" + path));
}

QStringList LoopbackPhone::events() const
{
    return QString::fromUtf8(readFile(m_dir.filePath("received/events"))).split('\n', Qt::SkipEmptyParts);
}

bool LoopbackPhone::linkRealTools(const QString& folder)
{
    for (const char* tool : {"idevice_id", "ideviceinfo", "ideviceinstaller"}) {
        if (!QFile::link(QString("/usr/bin/") + tool, QDir(folder).filePath(tool))
            || !QFileInfo(QDir(folder).filePath(tool)).isExecutable())
            return false;
    }
    return true;
}

QString LoopbackPhone::writeArchive(const QString& folder, const QString& name, bool runnable)
{
    const QString staging = QDir(folder).filePath(name + "-staging");
    QByteArray plist = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
                       "<key>CFBundleIdentifier</key><string>com.example.demo</string>";
    if (runnable)
        plist += "<key>CFBundleExecutable</key><string>Demo</string>";
    UpdateFixture::writeFile(staging + "/Payload/Demo.app/Info.plist", plist + "</dict></plist>\n");
    UpdateFixture::writeFile(staging + "/Payload/Demo.app/Demo", "\xcf\xfa\xed\xfe");
    const QString path = QDir(folder).filePath(name + ".ipa");
    UpdateFixture::writeFile(path, UpdateFixture::zip(staging, {"Payload"}));
    return path;
}
