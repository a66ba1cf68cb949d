#include "model/AppModel.h"

#include "common/AtomicFile.h"
#include "common/RussianText.h"
#include "platform/Platform.h"
#include "process/ProcessRunner.h"
#include "process/Tools.h"
#include "store/IPAToolError.h"

#include <algorithm>

AppModel::AppModel(QObject* parent)
    : AppModel(Endpoints{}, parent)
{}

AppModel::AppModel(Endpoints endpoints, QObject* parent)
    : QObject(parent)
    , m_rateLimitPause(endpoints.rateLimitPause)
    , m_ipatool(std::chrono::milliseconds(300), endpoints.toolWatchdog)
    , m_artwork(endpoints.lookup)
    , m_muxDiscovery(endpoints.toolWatchdog)
    , m_cfgutil(endpoints.toolWatchdog)
    , m_fallbackInstaller(endpoints.toolWatchdog)
    , m_deviceApps(endpoints.toolWatchdog)
    , m_updater(Updater::Options{endpoints.updateManifest, endpoints.updateBundle, {}, {}, endpoints.updatePublicKey})
    , m_queue(endpoints.queue.value_or(ArchiveQueue::defaults()))
{
    setUpArchive();
    m_watchTimer.setSingleShot(true);
    m_watchTimer.setInterval(std::chrono::seconds(3));
    connect(&m_watchTimer, &QTimer::timeout, this, [this] {
        if (m_watchWaiter)
            std::exchange(m_watchWaiter, {}).resume();
    });
}

AppModel::~AppModel()
{
    // No tool of ours outlives the window: each one's whole process group is ended.
    m_operations.cancelAll();
    stopDeviceWatch();
}

void AppModel::setSearch(QString search)
{
    assign(m_search, std::move(search), &AppModel::searchChanged);
}

void AppModel::setShowOnlyGone(bool showOnlyGone)
{
    assign(m_showOnlyGone, showOnlyGone, &AppModel::showOnlyGoneChanged);
}

void AppModel::setSelectedDeviceID(std::optional<QString> id)
{
    assign(m_selectedDeviceID, std::move(id), &AppModel::selectedDeviceIDChanged);
    followSelectedDevice();
}

void AppModel::setAlert(std::optional<QString> alert)
{
    assign(m_alert, std::move(alert), &AppModel::alertChanged);
}

void AppModel::setStage(Stage stage)
{
    assign(m_stage, stage, &AppModel::stageChanged);
}

void AppModel::setSyncProgress(std::optional<double> progress)
{
    assign(m_syncProgress, progress, &AppModel::syncProgressChanged);
}

void AppModel::setSyncStatus(QString status)
{
    assign(m_syncStatus, std::move(status), &AppModel::syncStatusChanged);
}

void AppModel::setLastSync(std::optional<QDateTime> date)
{
    assign(m_lastSync, std::move(date), &AppModel::lastSyncChanged);
}

void AppModel::setDeviceError(std::optional<QString> error)
{
    assign(m_deviceError, std::move(error), &AppModel::deviceErrorChanged);
}

void AppModel::setDownloadedBundleIDs(QSet<QString> ids)
{
    assign(m_downloadedBundleIDs, std::move(ids), &AppModel::downloadedBundleIDsChanged);
}

void AppModel::setInstalledAppsError(std::optional<QString> error)
{
    assign(m_installedAppsError, std::move(error), &AppModel::installedAppsErrorChanged);
}

void AppModel::setLoadingInstalledApps(bool loading)
{
    assign(m_loadingInstalledApps, loading, &AppModel::loadingInstalledAppsChanged);
}

void AppModel::setAccount(std::optional<IPATool::Account> account)
{
    assign(m_account, std::move(account), &AppModel::accountChanged);
}

void AppModel::setKeychainLocked(bool locked)
{
    assign(m_keychainLocked, locked, &AppModel::keychainLockedChanged);
}

void AppModel::setApps(QList<PurchasedApp> apps)
{
    assign(m_apps, std::move(apps), &AppModel::appsChanged);
}

void AppModel::setDevices(QList<Device> devices)
{
    assign(m_devices, std::move(devices), &AppModel::devicesChanged);
}

void AppModel::setInstalledApps(QList<InstalledApp> apps)
{
    assign(m_installedApps, std::move(apps), &AppModel::installedAppsChanged);
}

void AppModel::setKnownApps(QList<KnownApp> apps)
{
    assign(m_knownApps, std::move(apps), &AppModel::knownAppsChanged);
}

void AppModel::note(const QString& text)
{
    appendLog(text, false);
}

void AppModel::fail(const QString& text)
{
    appendLog(text, true);
}

void AppModel::appendLog(const QString& text, bool isError)
{
    m_log.append(LogEntry{QUuid::createUuid(), QDateTime::currentDateTime(), text, isError});
    trimLog();
    if (m_logFile && m_logFile->isWriting()) {
        m_logFile->write(m_log.constLast().date, isError, text);
        if (!m_logFile->isWriting())
            m_log.append(LogEntry{
                QUuid::createUuid(), QDateTime::currentDateTime(),
                QStringLiteral("Журнал не пишется в файл, он остаётся только в окне: ") + m_logFile->failure(), true});
        trimLog();
    }
    Q_EMIT logChanged();
}

namespace {

QStringList phoneToolNames()
{
    return {QStringLiteral("ideviceinstaller"), QStringLiteral("idevice_id"), QStringLiteral("ideviceinfo")};
}

std::optional<QString> phoneTool(const QString& name)
{
    if (name == QLatin1String("ideviceinstaller"))
        return Tools::ideviceinstaller();
    if (name == QLatin1String("idevice_id"))
        return Tools::ideviceID();
    return Tools::ideviceinfo();
}

} // namespace

void AppModel::writeLogTo(const QString& directory, qint64 limit)
{
    m_logFile = std::make_unique<LogFile>(directory, limit);
    if (!m_logFile->isWriting()) {
        fail(QStringLiteral("Журнал не пишется в файл, он остаётся только в окне: ") + m_logFile->failure());
        return;
    }
    note(QStringLiteral("Quorrel ") + appVersionText() + QStringLiteral(" · ") + Platform::description()
         + QStringLiteral(" · Qt ") + QString::fromLatin1(qVersion()));
    noteToolVersions();
}

std::optional<QString> AppModel::logDirectory() const
{
    if (!m_logFile || !m_logFile->isWriting())
        return std::nullopt;
    return m_logFile->directory();
}

bool AppModel::saveLog(const QString& path)
{
    QByteArray content = m_logFile ? m_logFile->contents() : QByteArray();
    if (content.isEmpty()) {
        for (const LogEntry& entry : std::as_const(m_log))
            content += LogFile::line(entry.date, entry.isError, entry.text);
    }
    if (!AtomicFile::write(path, content)) {
        fail(QStringLiteral("Не удалось сохранить журнал в ") + path);
        return false;
    }
    note(QStringLiteral("Журнал сохранён в ") + path);
    return true;
}

QCoro::Task<> AppModel::noteToolVersions()
{
    // The phone tools say their versions only when asked; ipatool's is noted at start-up.
    QPointer<AppModel> self(this);
    const QStringList names = phoneToolNames();
    const QStringList arguments{QStringLiteral("--version")};
    QStringList found;
    for (const QString& name : names) {
        const std::optional<QString> path = phoneTool(name);
        if (!path) {
            found.append(name + QStringLiteral(" не найден"));
            continue;
        }
        QString version;
        try {
            ProcessRunner::Options control;
            control.watchdog = std::chrono::seconds(10);
            const ProcessOutput output = co_await ProcessRunner::run(*path, arguments, std::move(control));
            if (output.status == 0 && !output.lines().isEmpty())
                version = output.lines().constFirst().trimmed();
        } catch (...) {
            // The path alone still says which tool would run.
        }
        if (!self)
            co_return;
        found.append((version.isEmpty() ? name : version) + QStringLiteral(" (") + *path + QLatin1Char(')'));
    }
    note(QStringLiteral("Инструменты телефона: ") + found.join(QStringLiteral(", ")));
}

void AppModel::trimLog()
{
    if (m_log.size() > logLimit)
        m_log.remove(0, m_log.size() - logLimit);
}

QCoro::Task<> AppModel::bootstrap()
{
    refreshDownloadedSet();
    const auto ipatool = Tools::ipatool();
    std::optional<QVersionNumber> version;
    if (ipatool)
        version = co_await m_ipatool.version();
    note(QStringLiteral("ipatool: ") + ipatool.value_or(QStringLiteral("не найден"))
         + (version ? QStringLiteral(", версия ") + version->toString() : QString()));
    // Apple Configurator exists only on macOS; elsewhere ideviceinstaller is simply the installer.
    const auto cfgutil = Tools::cfgutil();
    if (cfgutil || !Platform::isLinux())
        note(QStringLiteral("cfgutil: ") + cfgutil.value_or(QStringLiteral("не найден — поставь Apple Configurator")));
    if (IDeviceInstaller::isAvailable())
        note(cfgutil || !Platform::isLinux() ? QStringLiteral("запасной установщик: ideviceinstaller")
                                             : QStringLiteral("установщик: ideviceinstaller"));

    if (!ipatool) {
        setStage(Stage::signedOut);
        setAlert(IPAToolError(IPAToolError::Kind::notInstalled).description());
        co_return;
    }
    // Signing in and downloads still work with an older tool; only the history needs the newer one.
    if (version && *version < IPATool::historyVersion())
        setAlert(IPATool::historyRefusal(version));

    setKnownApps(m_knownStore.all());

    std::optional<IPATool::Account> account;
    bool locked = false;
    try {
        account = co_await m_ipatool.accountInfo();
    } catch (const IPAToolError& error) {
        locked = error.isKeychainError();
    } catch (...) {
        // A tool that cannot even start means nobody can be signed in; the sign-in form says why.
    }
    if (locked) {
        // Whoever is signed in is behind the passphrase: the sign-in view asks for it.
        setKeychainLocked(true);
        setStage(Stage::signedOut);
        note(QStringLiteral("ipatool хранит вход в зашифрованном файле и ждёт пароль его связки ключей"));
        co_return;
    }
    if (!account) {
        setStage(Stage::signedOut);
        co_return;
    }
    co_await resumeSession(*account);
}

QCoro::Task<> AppModel::resumeSession(IPATool::Account account)
{
    ++m_session;
    setAccount(account);
    setStage(Stage::signedIn);
    note(QStringLiteral("Аккаунт: ") + account.email);

    loadCachedPurchases();
    if (!m_apps.isEmpty()) {
        const auto gone = std::count_if(m_apps.cbegin(), m_apps.cend(),
                                        [](const PurchasedApp& app) { return app.isGoneFromStore(); });
        note(QStringLiteral("Из кэша: ") + RussianText::apps(m_apps.size()) + QStringLiteral(", снятых из App Store — ")
             + QString::number(gone));
    }

    startDeviceWatch();
    checkForUpdates(false);
    co_await syncPurchases(m_apps.isEmpty());
}
