#include "demo/DemoEnvironment.h"

#include "demo/DemoCatalogue.h"
#include "demo/DemoScenario.h"
#include "demo/IpaArchive.h"
#include "platform/Platform.h"
#include "process/Tools.h"
#include "store/ArtworkService.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSaveFile>
#include <QSettings>
#include <QThread>

namespace {

const char* const redirectedVariables[] = {"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME",
                                           "XDG_STATE_HOME"};

QStringList toolNames()
{
    return {QStringLiteral("ipatool"), QStringLiteral("cfgutil"), QStringLiteral("idevice_id"),
            QStringLiteral("ideviceinfo"), QStringLiteral("ideviceinstaller")};
}

QString iconPath(const QString& root, int icon)
{
    return QDir(root).filePath(QStringLiteral("icons/icon-%1.png").arg(icon, 2, 10, QLatin1Char('0')));
}

std::optional<QString> writeFile(const QString& path, const QByteArray& content)
{
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(content) == content.size() && file.commit())
        return std::nullopt;
    return QStringLiteral("Не удалось записать %1: %2").arg(path, file.errorString());
}

} // namespace

DemoEnvironment::DemoEnvironment(std::optional<QString> dataDirectory)
    : m_root(QDir(QDir::tempPath()).filePath(QStringLiteral("quorrel-demo-XXXXXX")))
{
    if (!dataDirectory) {
        m_error = QStringLiteral("Демо-режим работает только из собранного приложения (Quorrel.app)");
        return;
    }
    if (!m_root.isValid()) {
        m_error = QStringLiteral("Не удалось создать временную папку для демо: ") + m_root.errorString();
        return;
    }
    m_error = prepare(*dataDirectory);
    if (m_error)
        return;
    redirect();
    m_error = seedSupportFolder();
}

DemoEnvironment::~DemoEnvironment()
{
    if (!m_redirected)
        return;
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
    // A stand-in still finishing its last call may write into the folder while it goes; try again
    // briefly rather than leave it behind.
    for (int attempt = 0; attempt < 20 && QFileInfo::exists(m_root.path()) && !m_root.remove(); ++attempt)
        QThread::msleep(50);
}

QString DemoEnvironment::homePath() const
{
    return m_root.filePath(QStringLiteral("home"));
}

QString DemoEnvironment::toolsDirectory() const
{
    return m_root.filePath(QStringLiteral("tools"));
}

AppModel::Endpoints DemoEnvironment::endpoints() const
{
    // The seeded cache answers every App ID of the history, so the lookup is only asked about
    // anything else; a missing local file fails at once, where the internet could hang or answer.
    // The update check goes the same way, so the demo never offers to replace the real bundle.
    const QUrl offline = QUrl::fromLocalFile(m_root.filePath(QStringLiteral("offline")));
    return {offline, QUrl::fromLocalFile(m_root.filePath(QStringLiteral("offline/appcast.json")))};
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

    const QDir root(m_root.path());
    for (const char* folder : {"tools", "icons", "data", "home/.config", "home/.cache"}) {
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
    if (auto failure = writeFile(ipa, IpaArchive::build(QStringLiteral("com.example.demo"), QStringLiteral("Demo"),
                                                        QStringLiteral("1.0"), 3'400'000)))
        return failure;
    const QByteArray scenario = QJsonDocument(DemoScenario::build(ipa)).toJson(QJsonDocument::Compact);
    return writeFile(QDir(toolsDirectory()).filePath(QStringLiteral("standin.json")), scenario);
}

void DemoEnvironment::redirect()
{
    const QString home = homePath();
    const QList<std::pair<const char*, QString>> values{
        {"HOME", home},
        {"XDG_DATA_HOME", home + QStringLiteral("/.local/share")},
        {"XDG_CONFIG_HOME", home + QStringLiteral("/.config")},
        {"XDG_CACHE_HOME", home + QStringLiteral("/.cache")},
        {"XDG_STATE_HOME", home + QStringLiteral("/.local/state")},
    };
    for (const char* name : redirectedVariables)
        m_savedEnvironment.append({name, qgetenv(name)});
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
    ArtworkService::Cache cache;
    const QDateTime checked = QDateTime::currentDateTimeUtc();
    for (const DemoCatalogue::App& app : DemoCatalogue::apps()) {
        ArtworkService::Entry entry;
        entry.checkedAt = checked;
        if (!app.gone) {
            entry.artworkURL = QUrl::fromLocalFile(iconPath(m_root.path(), app.icon)).toString();
            entry.sellerName = app.seller;
            entry.fileSizeBytes = 18'000'000 + (app.id % 97) * 1'700'000;
        }
        cache.insert(app.id, entry);
    }
    const QString cachePath = QDir(Tools::cacheDirectory()).filePath(QStringLiteral("artwork.json"));
    if (auto failure = writeFile(cachePath, ArtworkService::encode(cache)))
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
        if (auto failure =
                writeFile(path, IpaArchive::build(app.bundleID, app.name, app.version, 1'200'000 + i * 900'000)))
            return failure;
        QFile file(path);
        if (file.open(QIODevice::ReadWrite))
            file.setFileTime(QDateTime::currentDateTime().addDays(-3 * i - 1), QFileDevice::FileModificationTime);
    }
    return std::nullopt;
}
