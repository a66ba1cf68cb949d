// A phone on loopback sockets for the device tests: a usbmuxd that Debian's real idevice_id,
// ideviceinfo and ideviceinstaller reach through USBMUXD_SOCKET_ADDRESS, and behind it lockdownd
// with a real TLS session, AFC and installation_proxy. One scenario per run; tests/support/README.md
// describes them.

#include "Phone.h"
#include "Scenario.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>
#include <QSslSocket>
#include <QTemporaryDir>

#include <cstdio>
#include <optional>

namespace {

int fail(const QString& message)
{
    std::fprintf(stderr, "loopback-phone: %s\n", qPrintable(message));
    return 2;
}

std::optional<QByteArray> readFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return file.readAll();
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("A loopback usbmuxd with one emulated phone behind it."));
    parser.addHelpOption();
    parser.addOptions({
        {QStringLiteral("listen"), QStringLiteral("UNIX:/path or 127.0.0.1:PORT (0 picks a port)."),
         QStringLiteral("address")},
        {QStringLiteral("scenario"), QStringLiteral("One of: ") + Scenario::names().join(QStringLiteral(", ")),
         QStringLiteral("name")},
        {QStringLiteral("config"), QStringLiteral("JSON object overriding the scenario's phone and install."),
         QStringLiteral("file")},
        {QStringLiteral("received"), QStringLiteral("Folder for uploaded files and the event log."),
         QStringLiteral("folder")},
        {QStringLiteral("data"), QStringLiteral("Folder with the pair record's certificates and keys."),
         QStringLiteral("folder"), QStringLiteral(QUORREL_PHONE_DATA_DIR)},
    });
    parser.process(app);
    if (!parser.isSet(QStringLiteral("listen")))
        return fail(QStringLiteral("--listen is required"));

    QJsonObject config;
    if (parser.isSet(QStringLiteral("config"))) {
        const std::optional<QByteArray> text = readFile(parser.value(QStringLiteral("config")));
        const QJsonDocument document = QJsonDocument::fromJson(text.value_or(QByteArray()));
        if (!document.isObject())
            return fail(QStringLiteral("the config is no JSON object: ") + parser.value(QStringLiteral("config")));
        config = document.object();
    }
    const QString name = parser.value(QStringLiteral("scenario"));
    QString error;
    const std::optional<Scenario> scenario = Scenario::make(
        name.isEmpty() ? config.value(QLatin1String("scenario")).toString(QStringLiteral("paired")) : name, config,
        &error);
    if (!scenario)
        return fail(error);

    Phone::Identity identity;
    const QString data = parser.value(QStringLiteral("data"));
    const std::pair<const char*, QByteArray*> files[] = {
        {"root.pem", &identity.rootCertificate},         {"root-key.pem", &identity.rootKey},
        {"host.pem", &identity.hostCertificate},         {"host-key.pem", &identity.hostKey},
        {"device.pem", &identity.deviceCertificate},     {"device-key.pem", &identity.deviceKey},
        {"device-public.pem", &identity.devicePublicKey}};
    for (const auto& [file, bytes] : files) {
        const std::optional<QByteArray> contents = readFile(data + QLatin1Char('/') + QLatin1String(file));
        if (!contents)
            return fail(QStringLiteral("cannot read %1/%2").arg(data, QLatin1String(file)));
        *bytes = *contents;
    }
    if (!QSslSocket::supportsSsl())
        return fail(QStringLiteral("Qt has no TLS backend"));

    QTemporaryDir scratch;
    const QString received =
        parser.isSet(QStringLiteral("received")) ? parser.value(QStringLiteral("received")) : scratch.path();
    Phone phone(*scenario, identity, received);
    const QString address = phone.listen(parser.value(QStringLiteral("listen")), &error);
    if (address.isEmpty())
        return fail(error);
    // The one line on stdout: the caller waits for it before pointing the tools here.
    std::printf("listening %s\n", qPrintable(address));
    std::fflush(stdout);
    return app.exec();
}
