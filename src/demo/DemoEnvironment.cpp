#include "demo/DemoEnvironment.h"

#include "archive/DelistingRadar.h"
#include "demo/DemoCatalogue.h"
#include "demo/DemoFiles.h"
#include "demo/DemoScenario.h"
#include "demo/DemoUpdateOffer.h"
#include "demo/DemoUpdateServer.h"
#include "demo/IpaArchive.h"
#include "platform/Platform.h"
#include "process/Tools.h"
#include "store/ArtworkService.h"
#include "update/UpdateSignature.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>
#include <QUrlQuery>
#include <QtConcurrent/QtConcurrentRun>

#include <cerrno>
#include <cstring>
#include <vector>

#include <unistd.h>

namespace {

const char* const redirectedVariables[] = {"HOME",           "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME",
                                           "XDG_STATE_HOME", "TMPDIR",        "XAUTHORITY"};
// Beside the bundle copy: tells the copy, and the one an update relaunches with no arguments,
// that it runs inside a demo's folder.
const QString copyMarker = QStringLiteral(".quorrel-demo");
const QString bundleName = QStringLiteral("Quorrel.app");
const QString publicKeyFile = QStringLiteral("update-key.pub");

QStringList toolNames()
{
    return {QStringLiteral("ipatool"), QStringLiteral("cfgutil"), QStringLiteral("idevice_id"),
            QStringLiteral("ideviceinfo"), QStringLiteral("ideviceinstaller")};
}

QString iconName(int icon)
{
    return QStringLiteral("icon-%1.png").arg(icon, 2, 10, QLatin1Char('0'));
}

// Every app the demo can download: the history, and the phone apps bought by someone else.
QList<DemoCatalogue::PhoneApp> downloadable()
{
    QList<DemoCatalogue::PhoneApp> apps;
    QSet<qint64> seen;
    for (const DemoCatalogue::App& app : DemoCatalogue::apps()) {
        apps.append({app.bundleID, app.name, app.version, app.id});
        seen.insert(app.id);
    }
    for (const DemoCatalogue::Phone& phone : DemoCatalogue::phones()) {
        for (const DemoCatalogue::PhoneApp& app : phone.apps) {
            if ((app.adamID || app.bundleID == DemoCatalogue::foundByBundleID())
                && !seen.contains(app.adamID.value_or(-1))) {
                apps.append(app);
                seen.insert(app.adamID.value_or(-1));
            }
        }
    }
    return apps;
}

// A spread of minimum iOS versions: a fifth of the files will not go onto the older phone, and
// one gone app's latest build needs an iOS neither phone has, so its older versions are offered.
QString minimumOS(qint64 appID)
{
    if (appID == DemoCatalogue::needsNewerIOS())
        return QStringLiteral("18.0");
    return appID % 5 == 0 ? QStringLiteral("17.0") : QStringLiteral("14.0");
}

// What the store says an app weighs: the archive the demo really downloads, so a download's
// progress adds up to its size.
qint64 storeSize(const QString& root, qint64 appID)
{
    const QFileInfo archive(QDir(root).filePath(QStringLiteral("data/ipa/%1.ipa").arg(appID)));
    return archive.isFile() ? archive.size() : 18'000'000 + (appID % 97) * 1'700'000;
}

// The store's lookup as the demo knows it: every app of the history but the gone ones, and the
// phone apps bought by someone else, by App ID or by bundle id.
QByteArray lookupAnswer(const QUrlQuery& query, const DemoUpdateServer* server, const QString& root)
{
    const QStringList idList = query.queryItemValue(QStringLiteral("id")).split(QLatin1Char(','));
    const QStringList bundleList = query.queryItemValue(QStringLiteral("bundleId")).split(QLatin1Char(','));
    const QSet<QString> ids(idList.cbegin(), idList.cend());
    const QSet<QString> bundles(bundleList.cbegin(), bundleList.cend());
    QJsonArray results;
    const auto offer = [&](qint64 id, const QString& bundleID, int icon, const QString& seller) {
        if (!ids.contains(QString::number(id)) && !bundles.contains(bundleID))
            return;
        results.append(QJsonObject{
            {QStringLiteral("trackId"), id},
            {QStringLiteral("bundleId"), bundleID},
            {QStringLiteral("artworkUrl100"), server->url(QStringLiteral("/icons/") + iconName(icon)).toString()},
            {QStringLiteral("sellerName"), seller},
            {QStringLiteral("fileSizeBytes"), QString::number(storeSize(root, id))}});
    };
    QSet<qint64> history;
    for (const DemoCatalogue::App& app : DemoCatalogue::apps()) {
        history.insert(app.id);
        if (!app.gone)
            offer(app.id, app.bundleID, app.icon, app.seller);
    }
    for (const DemoCatalogue::PhoneApp& app : downloadable()) {
        if (!history.contains(app.adamID.value_or(-1)))
            offer(app.adamID.value_or(DemoCatalogue::foundByBundleIDAppID()), app.bundleID,
                  int(app.adamID.value_or(7) % DemoCatalogue::iconCount), QStringLiteral("Семейная подписка"));
    }
    return QJsonDocument(
               QJsonObject{{QStringLiteral("resultCount"), results.size()}, {QStringLiteral("results"), results}})
        .toJson(QJsonDocument::Compact);
}

} // namespace

DemoEnvironment::DemoEnvironment(std::optional<QString> dataDirectory, std::optional<QString> folder)
{
    if (!dataDirectory) {
        m_error = QStringLiteral("Демо-режим работает только из собранного приложения (Quorrel.app)");
        return;
    }
    if (folder) {
        m_root = *folder;
    } else {
        QTemporaryDir root(QDir(QDir::tempPath()).filePath(QStringLiteral("quorrel-demo-XXXXXX")));
        if (!root.isValid()) {
            m_error = QStringLiteral("Не удалось создать временную папку для демо: ") + root.errorString();
            return;
        }
        root.setAutoRemove(false);
        m_root = root.path();
    }
    // A copy relaunched by an update finds everything as its predecessor left it.
    const bool prepared = QFileInfo::exists(QDir(toolsDirectory()).filePath(QStringLiteral("standin.json")));
    if (!prepared) {
        m_error = prepare(*dataDirectory);
        if (m_error)
            return;
    }
    redirect();
    startServer();
    if (!prepared)
        m_error = seedSupportFolder();
    if (!m_error && m_server && QFileInfo(bundleCopy()).isDir()) {
        if (const auto failure = offerUpdate()) {
            // The rest of the demo works without it.
            qWarning("%s", qPrintable(QStringLiteral("Демо-обновления не будет: ") + *failure));
        } else {
            m_offersUpdate = true;
        }
    }
}

DemoEnvironment::~DemoEnvironment()
{
    // The offer may still be on its way into the folder about to go.
    m_offerWatcher.reset();
    m_offerBuild.waitForFinished();
    m_server.reset();
    if (m_redirected)
        restore();
    if (m_keep || m_root.isEmpty())
        return;
    // A stand-in still finishing its last call may write into the folder while it goes; try again
    // briefly rather than leave it behind.
    for (int attempt = 0; attempt < 20 && QFileInfo::exists(m_root) && !QDir(m_root).removeRecursively(); ++attempt)
        QThread::msleep(50);
}

void DemoEnvironment::restore()
{
    Tools::setResourceDirectory(std::nullopt);
    Tools::setSupportDirectory(std::nullopt);
    Tools::setSystemToolsSearched(true);
    for (const auto& [name, value] : std::as_const(m_savedEnvironment)) {
        if (value.isNull())
            qunsetenv(name);
        else
            qputenv(name, value);
    }
    // QSettings keeps no trace of an explicit path, so the usual one is worked out again.
    const QString configHome = qEnvironmentVariable("XDG_CONFIG_HOME");
    const QString settings = configHome.isEmpty() ? QDir::home().filePath(QStringLiteral(".config")) : configHome;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settings);
}

QString DemoEnvironment::homePath() const
{
    return QDir(m_root).filePath(QStringLiteral("home"));
}

QString DemoEnvironment::toolsDirectory() const
{
    return QDir(m_root).filePath(QStringLiteral("tools"));
}

QString DemoEnvironment::bundleCopy() const
{
    return QDir(m_root).filePath(bundleName);
}

AppModel::Endpoints DemoEnvironment::endpoints() const
{
    // The lookup is the demo server's, which knows the made-up catalogue; without the server a
    // missing local file fails at once, where the internet could hang or answer. The update check
    // goes to the demo's own server when there is a bundle copy to update, and otherwise to a
    // missing file the same way, so the demo never offers to replace the real build. The queue
    // waits seconds where the real one waits a minute, so its pauses can be watched.
    const QUrl offline = QUrl::fromLocalFile(QDir(m_root).filePath(QStringLiteral("offline")));
    AppModel::Endpoints endpoints{m_server ? m_server->url(QString()) : offline,
                                  QUrl::fromLocalFile(QDir(m_root).filePath(QStringLiteral("offline/appcast.json")))};
    if (m_offersUpdate) {
        endpoints.updateManifest = m_server->manifestUrl();
        endpoints.updateBundle = bundleCopy();
        endpoints.updatePublicKey = m_updateKey;
    }
    endpoints.queue =
        ArchiveQueue::Settings{1, std::chrono::seconds(2), std::chrono::seconds(12), std::chrono::seconds(96)};
    return endpoints;
}

std::optional<QString> DemoEnvironment::copyFolder()
{
    const auto bundle = Platform::bundlePath();
    if (!bundle)
        return std::nullopt;
    const QFileInfo running(*bundle);
    const QString folder = running.absolutePath();
    if (running.fileName() != bundleName || !QFileInfo::exists(QDir(folder).filePath(copyMarker)))
        return std::nullopt;
    return folder;
}

QString DemoEnvironment::relaunchFromCopy(char* argv[])
{
    const auto bundle = Platform::bundlePath();
    if (!bundle)
        return QStringLiteral("Демо-режим работает только из собранного приложения (Quorrel.app)");
    QTemporaryDir root(QDir(QDir::tempPath()).filePath(QStringLiteral("quorrel-demo-XXXXXX")));
    if (!root.isValid())
        return QStringLiteral("Не удалось создать временную папку для демо: ") + root.errorString();
    const QString copy = root.filePath(bundleName);
    if (auto failure = DemoFiles::run(QStringLiteral("cp"), {QStringLiteral("-a"), *bundle, copy}))
        return *failure;
    if (auto failure = DemoFiles::write(root.filePath(copyMarker), {}))
        return *failure;

    const QByteArray executable = QFile::encodeName(copy + QStringLiteral("/Contents/MacOS/Quorrel"));
    std::vector<char*> arguments{const_cast<char*>(executable.constData())};
    for (char** argument = argv + 1; *argument; ++argument)
        arguments.push_back(*argument);
    arguments.push_back(nullptr);
    root.setAutoRemove(false);
    ::execv(executable.constData(), arguments.data());

    root.setAutoRemove(true);
    return QStringLiteral("Не удалось запустить копию демо: ") + QString::fromLocal8Bit(std::strerror(errno));
}

void DemoEnvironment::startServer()
{
    m_server = std::make_unique<DemoUpdateServer>();
    m_server->setIconFolder(QDir(m_root).filePath(QStringLiteral("icons")));
    m_server->setLookup(
        [server = m_server.get(), root = m_root](const QUrlQuery& query) { return lookupAnswer(query, server, root); });
    // A copy an update relaunches takes the same port, so the icon addresses cached before still answer.
    QFile saved(QDir(m_root).filePath(QStringLiteral("server-port")));
    const quint16 port = saved.open(QIODevice::ReadOnly) ? saved.readAll().toUShort() : 0;
    saved.close();
    if (!m_server->listen(port) && !(port != 0 && m_server->listen())) {
        // Rows then show initials instead of icons, and there is no update to try.
        qWarning("%s", qPrintable(QStringLiteral("Не удалось открыть порт для демо-сервера")));
        m_server.reset();
        return;
    }
    if (const auto failure = DemoFiles::write(saved.fileName(), QByteArray::number(m_server->port())))
        qWarning("%s", qPrintable(*failure));
}

std::optional<QString> DemoEnvironment::offerUpdate()
{
    const QString folder = QDir(m_root).filePath(QStringLiteral("update"));
    if (!QDir().mkpath(folder))
        return QStringLiteral("Не удалось создать ") + folder;
    const QString archive = QDir(folder).filePath(QStringLiteral("Quorrel.zip"));
    QFile saved(QDir(folder).filePath(QStringLiteral("offer.json")));
    if (saved.open(QIODevice::ReadOnly)) {
        // The relaunched copy serves the offer it came from, which is now nothing newer.
        QFile key(QDir(folder).filePath(publicKeyFile));
        m_updateKey = key.open(QIODevice::ReadOnly) ? UpdateSignature::publicKeyFrom(QString::fromLatin1(key.readAll()))
                                                    : std::nullopt;
        if (!m_updateKey)
            return QStringLiteral("Нет ключа демо-обновления в ") + folder;
        m_server->setOffer(QJsonDocument::fromJson(saved.readAll()).object(), archive);
        return std::nullopt;
    }

    const UpdateSignature::KeyPair key = UpdateSignature::generate();
    if (auto failure = DemoFiles::write(QDir(folder).filePath(publicKeyFile), key.publicKey.toBase64()))
        return failure;
    m_updateKey = key.publicKey;
    // The window comes first; a check asked before the offer is ready waits for it.
    m_server->expectOffer();
    struct Made {
        std::optional<QString> failure;
        QJsonObject offer;
    };
    m_offerBuild = QtConcurrent::run([bundle = bundleCopy(), folder, secret = key.secretKey] {
        Made made;
        made.failure = DemoUpdateOffer::build(bundle, folder, secret, made.offer);
        return made.failure ? *made.failure : QString::fromUtf8(QJsonDocument(made.offer).toJson());
    });
    m_offerWatcher = std::make_unique<QFutureWatcher<QString>>();
    QObject::connect(m_offerWatcher.get(), &QFutureWatcher<QString>::finished, m_server.get(),
                     [server = m_server.get(), watcher = m_offerWatcher.get(), archive] {
                         const QString result = watcher->result();
                         const QJsonObject offer = QJsonDocument::fromJson(result.toUtf8()).object();
                         if (offer.isEmpty()) {
                             qWarning("%s", qPrintable(QStringLiteral("Демо-обновления не будет: ") + result));
                             server->noOffer();
                             return;
                         }
                         server->setOffer(offer, archive);
                     });
    m_offerWatcher->setFuture(m_offerBuild);
    return std::nullopt;
}

std::optional<QString> DemoEnvironment::bundledDataDirectory()
{
    const auto resources = Platform::bundleResourceDirectory();
    if (!resources)
        return std::nullopt;
    return QDir(*resources).filePath(QStringLiteral("demo"));
}

// Everything that can fail for want of files happens before anything global is redirected.
std::optional<QString> DemoEnvironment::prepare(const QString& dataDirectory)
{
    const QDir data(dataDirectory);
    const QString program = data.filePath(QStringLiteral("quorrel-standin"));
    if (!QFileInfo(program).isExecutable())
        return QStringLiteral("Нет программы для демо-режима: ") + program;
    const QStringList icons = QDir(data.filePath(QStringLiteral("icons"))).entryList({QStringLiteral("*.png")});
    if (icons.size() < DemoCatalogue::iconCount)
        return QStringLiteral("Нет значков для демо-режима в ") + data.filePath(QStringLiteral("icons"));

    const QDir root(m_root);
    for (const char* folder : {"tools", "icons", "data", "tmp", "home/.config", "home/.cache"}) {
        if (!root.mkpath(QLatin1String(folder)))
            return QStringLiteral("Не удалось создать ") + root.filePath(QLatin1String(folder));
    }
    for (const QString& tool : toolNames()) {
        const QString target = QDir(toolsDirectory()).filePath(tool);
        // A link keeps the tool's own name as argv[0], which is how the stand-in knows its part.
        if (!QFile::link(program, target) && !QFile::copy(program, target))
            return QStringLiteral("Не удалось поставить %1 в %2").arg(tool, toolsDirectory());
    }
    for (const QString& icon : icons) {
        if (!QFile::copy(data.filePath(QStringLiteral("icons/") + icon),
                         root.filePath(QStringLiteral("icons/") + icon)))
            return QStringLiteral("Не удалось скопировать значок ") + icon;
    }
    const QString ipa = root.filePath(QStringLiteral("data/sample.ipa"));
    if (auto failure =
            DemoFiles::write(ipa, IpaArchive::build(QStringLiteral("com.example.demo"), QStringLiteral("Demo"),
                                                    QStringLiteral("1.0"), 3'400'000)))
        return failure;
    // Each app downloads as its own small archive, with the Info.plist, metadata and icon it would have.
    if (!root.mkpath(QStringLiteral("data/ipa")))
        return QStringLiteral("Не удалось создать ") + root.filePath(QStringLiteral("data/ipa"));
    for (const DemoCatalogue::PhoneApp& app : downloadable()) {
        const qint64 id = app.adamID.value_or(DemoCatalogue::foundByBundleIDAppID());
        QFile icon(root.filePath(QStringLiteral("icons/") + iconName(int(id % DemoCatalogue::iconCount))));
        icon.open(QIODevice::ReadOnly);
        const IpaArchive::Bundle bundle{app.bundleID,  app.name, app.version,   QString::number(100 + id % 900),
                                        minimumOS(id), id,       icon.readAll()};
        if (auto failure = DemoFiles::write(root.filePath(QStringLiteral("data/ipa/%1.ipa").arg(id)),
                                            IpaArchive::build(bundle, 100'000)))
            return failure;
    }
    const QString perApp = root.filePath(QStringLiteral("data/ipa/{opt:-i}.ipa"));
    const QByteArray scenario = QJsonDocument(DemoScenario::build(perApp)).toJson(QJsonDocument::Compact);
    return DemoFiles::write(QDir(toolsDirectory()).filePath(QStringLiteral("standin.json")), scenario);
}

void DemoEnvironment::redirect()
{
    const QString home = homePath();
    for (const char* name : redirectedVariables)
        m_savedEnvironment.append({name, qgetenv(name)});
    // The copy an update relaunches connects to the display with HOME already moved.
    const QString authority = QDir::home().filePath(QStringLiteral(".Xauthority"));
    if (qEnvironmentVariableIsEmpty("XAUTHORITY") && QFileInfo::exists(authority))
        qputenv("XAUTHORITY", QFile::encodeName(authority));
    const QList<std::pair<const char*, QString>> values{
        {"HOME", home},
        {"XDG_DATA_HOME", home + QStringLiteral("/.local/share")},
        {"XDG_CONFIG_HOME", home + QStringLiteral("/.config")},
        {"XDG_CACHE_HOME", home + QStringLiteral("/.cache")},
        {"XDG_STATE_HOME", home + QStringLiteral("/.local/state")},
        // Downloads, the update's work folder and its swap script stay inside the demo too.
        {"TMPDIR", QDir(m_root).filePath(QStringLiteral("tmp"))},
    };
    for (const auto& [name, value] : values)
        qputenv(name, value.toUtf8());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, home + QStringLiteral("/.config"));
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, home + QStringLiteral("/.config"));
    // Set explicitly: on macOS the support folder does not follow HOME.
    Tools::setSupportDirectory(home + QStringLiteral("/.local/share/Quorrel"));
    Tools::setResourceDirectory(toolsDirectory());
    Tools::setSystemToolsSearched(false);
    m_redirected = true;
}

std::optional<QString> DemoEnvironment::seedSupportFolder()
{
    // The lookup cache as the store would have filled it: an icon for every app it still offers,
    // none for the ones it dropped.
    // Three apps the store still had two days ago: the first sync finds them gone and says so.
    ArtworkService::Cache cache;
    DelistingRadar::Entries radar;
    const QDateTime checked = QDateTime::currentDateTimeUtc();
    const QSet<qint64> leaving = DemoCatalogue::recentlyGone();
    for (const DemoCatalogue::App& app : DemoCatalogue::apps()) {
        ArtworkService::Entry entry;
        entry.checkedAt = checked;
        if (leaving.contains(app.id)) {
            entry.checkedAt = checked.addDays(-2);
            radar.insert(app.id, DelistingRadar::Entry{entry.checkedAt, std::nullopt});
        }
        if (!app.gone || leaving.contains(app.id)) {
            if (m_server)
                entry.artworkURL = m_server->url(QStringLiteral("/icons/") + iconName(app.icon)).toString();
            entry.sellerName = app.seller;
            entry.fileSizeBytes = storeSize(m_root, app.id);
        }
        cache.insert(app.id, entry);
    }
    const QString cachePath = QDir(Tools::cacheDirectory()).filePath(QStringLiteral("artwork.json"));
    if (auto failure = DemoFiles::write(cachePath, ArtworkService::encode(cache)))
        return failure;
    if (auto failure = DemoFiles::write(QDir(Tools::cacheDirectory()).filePath(QStringLiteral("radar.json")),
                                        DelistingRadar::encode(radar)))
        return failure;

    // A few files downloaded earlier, one of them an older version and one an app gone from the store.
    const QList<DemoCatalogue::App>& apps = DemoCatalogue::apps();
    const auto gone = std::find_if(apps.cbegin(), apps.cend(), [](const DemoCatalogue::App& app) { return app.gone; });
    const DemoCatalogue::App picks[] = {apps.at(1), apps.at(4), *gone, apps.at(9)};
    for (int i = 0; i < int(std::size(picks)); ++i) {
        const DemoCatalogue::App& app = picks[i];
        std::optional<AppVersion> version;
        if (i == 1) {
            const QList<DemoCatalogue::Version> ladder = DemoCatalogue::ladder(static_cast<int>(app.id % 10));
            const DemoCatalogue::Version& older = ladder.at(std::min<qsizetype>(2, ladder.size() - 1));
            version = AppVersion{older.externalID, older.displayVersion, older.releaseDate};
        }
        const QString path = AppModel::fileURL({app.id, app.bundleID, app.name, app.price == 0}, version);
        QFile icon(QDir(m_root).filePath(QStringLiteral("icons/") + iconName(app.icon)));
        icon.open(QIODevice::ReadOnly);
        const IpaArchive::Bundle bundle{app.bundleID,
                                        app.name,
                                        version ? version->displayVersion.value_or(app.version) : app.version,
                                        version ? version->externalID.right(3) : QString::number(100 + app.id % 900),
                                        minimumOS(app.id),
                                        app.id,
                                        icon.readAll()};
        if (auto failure = DemoFiles::write(path, IpaArchive::build(bundle, 1'200'000 + i * 900'000)))
            return failure;
        QFile file(path);
        if (file.open(QIODevice::ReadWrite))
            file.setFileTime(QDateTime::currentDateTime().addDays(-3 * i - 1), QFileDevice::FileModificationTime);
    }
    return std::nullopt;
}
