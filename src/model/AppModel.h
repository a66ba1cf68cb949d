#pragma once

#include "archive/ArchiveQueue.h"
#include "archive/DelistingRadar.h"
#include "archive/IpaInspector.h"
#include "common/LogFile.h"
#include "device/CfgUtil.h"
#include "device/Device.h"
#include "device/DeviceAppsReader.h"
#include "device/IDeviceInstaller.h"
#include "device/InstalledApp.h"
#include "device/KnownApp.h"
#include "device/KnownAppsStore.h"
#include "device/MuxDiscovery.h"
#include "model/AppActivity.h"
#include "model/LocalIPA.h"
#include "model/Operations.h"
#include "store/AppVersion.h"
#include "store/ArtworkService.h"
#include "store/IPATool.h"
#include "store/PurchasedApp.h"
#include "update/UpdateInfo.h"
#include "update/Updater.h"

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QTimer>
#include <QUrl>
#include <QUuid>

#include <QCoroTask>

#include <coroutine>
#include <memory>
#include <optional>

/// The one observable object of the application: it holds everything the window shows and runs
/// every user action. Lives on the interface thread; views read its properties and call its
/// operations, and it never calls a view.
class AppModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(Stage stage READ stage NOTIFY stageChanged)
    Q_PROPERTY(QString search READ search WRITE setSearch NOTIFY searchChanged)
    Q_PROPERTY(bool showOnlyGone READ showOnlyGone WRITE setShowOnlyGone NOTIFY showOnlyGoneChanged)
    Q_PROPERTY(std::optional<double> syncProgress READ syncProgress NOTIFY syncProgressChanged)
    Q_PROPERTY(QString syncStatus READ syncStatus NOTIFY syncStatusChanged)
    Q_PROPERTY(std::optional<QDateTime> lastSync READ lastSync NOTIFY lastSyncChanged)
    Q_PROPERTY(std::optional<QString> selectedDeviceID READ selectedDeviceID WRITE setSelectedDeviceID NOTIFY
                   selectedDeviceIDChanged)
    Q_PROPERTY(std::optional<QString> deviceError READ deviceError NOTIFY deviceErrorChanged)
    Q_PROPERTY(QList<LogEntry> log READ log NOTIFY logChanged)
    Q_PROPERTY(std::optional<QString> alert READ alert WRITE setAlert NOTIFY alertChanged)
    Q_PROPERTY(QSet<QString> downloadedBundleIDs READ downloadedBundleIDs NOTIFY downloadedBundleIDsChanged)
    Q_PROPERTY(std::optional<QString> installedAppsError READ installedAppsError NOTIFY installedAppsErrorChanged)
    Q_PROPERTY(bool loadingInstalledApps READ loadingInstalledApps NOTIFY loadingInstalledAppsChanged)
    Q_PROPERTY(std::optional<IPATool::Account> account READ account NOTIFY accountChanged)
    Q_PROPERTY(bool keychainLocked READ keychainLocked NOTIFY keychainLockedChanged)
    Q_PROPERTY(QList<PurchasedApp> apps READ apps NOTIFY appsChanged)
    Q_PROPERTY(QList<Device> devices READ devices NOTIFY devicesChanged)
    Q_PROPERTY(QList<InstalledApp> installedApps READ installedApps NOTIFY installedAppsChanged)
    Q_PROPERTY(QList<KnownApp> knownApps READ knownApps NOTIFY knownAppsChanged)
    Q_PROPERTY(QHash<qint64, AppActivity> activities READ activities NOTIFY activitiesChanged)
    Q_PROPERTY(QHash<qint64, QList<AppVersion>> versionsByApp READ versionsByApp NOTIFY versionsByAppChanged)
    Q_PROPERTY(bool appIDBusy READ appIDBusy NOTIFY appIDBusyChanged)
    Q_PROPERTY(std::optional<QString> appIDError READ appIDError NOTIFY appIDErrorChanged)
    Q_PROPERTY(UpdateState updateState READ updateState NOTIFY updateStateChanged)
    Q_PROPERTY(std::optional<UpdateInfo> updateInfo READ updateInfo NOTIFY updateInfoChanged)

public:
    enum class Stage { checking, signedOut, signedIn };
    Q_ENUM(Stage)

    struct LogEntry {
        QUuid id;
        QDateTime date;
        QString text;
        bool isError = false;
    };

    static constexpr int logLimit = 400;
    static constexpr int purchasesPageSize = 100;
    static constexpr int purchasesLastPage = 99;
    static constexpr qint64 syncMinimumAgeSeconds = 3600;

    /// Where the network services go; absent means the build's own endpoints. Tests and the demo
    /// point them at a loopback server.
    /// What to download or install. Only a free target may have its licence obtained on the way.
    struct Target {
        qint64 adamID = 0;
        QString bundleID; // may be empty when only the App ID is known
        QString name;
        bool isFree = false;

        // The history lists what the account once obtained, and it knows no prices (ipatool
        // reports 0 for every app): the licence may be asked for again for any of them.
        static Target from(const PurchasedApp& app) { return {app.id, app.bundleID, app.name, true}; }
        friend bool operator==(const Target&, const Target&) = default;
    };

    /// Opens the version sheet for its target; identified by the App ID.
    struct VersionRequest {
        Target target;
        qint64 id() const { return target.adamID; }
        friend bool operator==(const VersionRequest&, const VersionRequest&) = default;
    };

    static constexpr int versionsWithMetadata = 12;

    struct Endpoints {
        std::optional<QUrl> lookup;
        std::optional<QUrl> updateManifest = std::nullopt;
        /// The bundle the updater reads its version from and replaces; the running one when absent.
        std::optional<QString> updateBundle = std::nullopt;
        /// The key update archives must be signed with; the build's own when absent (the demo's own).
        std::optional<QByteArray> updatePublicKey = std::nullopt;
        /// How long a tool may stay silent before it is ended as hung; the build's limit when absent.
        std::optional<std::chrono::milliseconds> toolWatchdog = std::nullopt;
        /// How long the history read waits before asking again when Apple limits the rate.
        std::chrono::milliseconds rateLimitPause = std::chrono::seconds(30);
        /// The archive queue's pauses; the build's when absent.
        std::optional<ArchiveQueue::Settings> queue = std::nullopt;
    };

    /// What the update banner and sheet show. `progress` belongs to `downloading`, `message` to `failed`.
    struct UpdateState {
        enum class Kind { idle, checking, available, downloading, installing, upToDate, failed };
        Kind kind = Kind::idle;
        double progress = 0;
        QString message;

        static UpdateState downloading(double fraction) { return {Kind::downloading, fraction, {}}; }
        static UpdateState failed(QString description) { return {Kind::failed, 0, std::move(description)}; }
        friend bool operator==(const UpdateState& a, const UpdateState& b)
        {
            return a.kind == b.kind && (a.kind != Kind::downloading || a.progress == b.progress)
                   && (a.kind != Kind::failed || a.message == b.message);
        }
    };

    static constexpr double updateCheckIntervalSeconds = 86400;

    explicit AppModel(QObject* parent = nullptr);
    explicit AppModel(Endpoints endpoints, QObject* parent = nullptr);
    ~AppModel() override;

    Stage stage() const { return m_stage; }
    const QString& search() const { return m_search; }
    bool showOnlyGone() const { return m_showOnlyGone; }
    std::optional<double> syncProgress() const { return m_syncProgress; }
    const QString& syncStatus() const { return m_syncStatus; }
    std::optional<QDateTime> lastSync() const { return m_lastSync; }
    std::optional<QString> selectedDeviceID() const { return m_selectedDeviceID; }
    std::optional<QString> deviceError() const { return m_deviceError; }
    const QList<LogEntry>& log() const { return m_log; }
    std::optional<QString> alert() const { return m_alert; }
    const QSet<QString>& downloadedBundleIDs() const { return m_downloadedBundleIDs; }
    std::optional<QString> installedAppsError() const { return m_installedAppsError; }
    bool loadingInstalledApps() const { return m_loadingInstalledApps; }
    const std::optional<IPATool::Account>& account() const { return m_account; }
    /// Start-up found ipatool's keychain locked and waits for unlockKeychain().
    bool keychainLocked() const { return m_keychainLocked; }
    const QList<PurchasedApp>& apps() const { return m_apps; }
    const QList<Device>& devices() const { return m_devices; }
    const QList<InstalledApp>& installedApps() const { return m_installedApps; }
    const QList<KnownApp>& knownApps() const { return m_knownApps; }
    const QHash<qint64, AppActivity>& activities() const { return m_activities; }
    const QHash<qint64, QList<AppVersion>>& versionsByApp() const { return m_versionsByApp; }
    bool appIDBusy() const { return m_appIDBusy; }
    std::optional<QString> appIDError() const { return m_appIDError; }
    AppActivity activity(qint64 appID) const { return m_activities.value(appID); }
    const UpdateState& updateState() const { return m_updateState; }
    const std::optional<UpdateInfo>& updateInfo() const { return m_updateInfo; }
    /// For the running build's version and build number.
    const Updater& updater() const { return m_updater; }

    /// What the library shows: `apps` narrowed by `showOnlyGone` and the trimmed, case-blind search.
    QList<PurchasedApp> filteredApps() const;
    /// The chosen phone, else the first one listed.
    std::optional<Device> selectedDevice() const;

    // Written by the views.
    void setSearch(QString search);
    void setShowOnlyGone(bool showOnlyGone);
    void setSelectedDeviceID(std::optional<QString> id);
    void setAlert(std::optional<QString> alert);

    void note(const QString& text);
    void fail(const QString& text);

    /// From now on the log also goes to `quorrel.log` in `directory`, opened by a line on the
    /// application and the system; the phone tools' versions follow. Where the folder cannot be
    /// written the log stays in memory and one note says so.
    void writeLogTo(const QString& directory, qint64 limit = LogFile::defaultLimit);
    /// The log file's folder; absent while the log stays in memory.
    std::optional<QString> logDirectory() const;
    /// Writes the kept log files, else this run's entries in the same lines, to `path`; notes
    /// where it went, or fails in the log.
    bool saveLog(const QString& path);

    /// The start-up sequence; never fails. The window runs it once its root view is shown.
    QCoro::Task<> bootstrap();

    // Account and purchase history.
    /// Fails with the sign-in error unchanged, for the sign-in form to show. A non-empty
    /// `keychainPassphrase` is used for this and every later ipatool command.
    QCoro::Task<> signIn(QString email, QString password, QString code = {}, QString keychainPassphrase = {});
    /// Opens ipatool's keychain with `passphrase` for the rest of the run and carries on with
    /// start-up. Fails with the keychain's error; a wrong passphrase is forgotten.
    QCoro::Task<> unlockKeychain(QString passphrase);
    QCoro::Task<> signOut();
    /// Never fails; a failure is logged. Runs only when the last sync is an hour old, unless forced.
    QCoro::Task<> syncPurchases(bool force);
    void loadCachedPurchases();
    /// Asks the store which apps it still offers and fills their icons and sellers.
    QCoro::Task<> enrichArtwork();

    // Phones.
    /// (Re)starts polling the phones every three seconds, the first pass at once.
    void startDeviceWatch();
    void stopDeviceWatch();
    bool isWatchingDevices() const { return m_watchRunning; }
    /// Whether a watch pass is still on its way out after a stop (it ends with its tool run).
    bool hasDeviceWatchLoop() const { return m_watchLoops > 0; }
    /// One pass. `askAgain`: a phone that did not trust this computer, or was locked, is asked at
    /// once rather than at its next turn (the refresh button).
    QCoro::Task<> refreshDevices(bool askAgain = false);
    QCoro::Task<> loadInstalledApps();
    /// Whether a read of a phone's apps still runs, counting one whose answer will be dropped
    /// because another phone was chosen since (it ends with its tool run).
    bool hasPhoneAppsRead() const { return m_appsReadsRunning > 0; }
    void rememberKnown(qint64 appID, QString bundleID, QString name, QString source);
    void rememberKnown(const Target& target, QString source);

    // Downloads and local files.
    /// Where the .ipa of `target` at `version` (the latest when absent) lives in the downloads folder.
    static QString fileURL(const Target& target, const std::optional<AppVersion>& version);
    /// The file's path, or nothing when the download failed (the activity and the log say why).
    QCoro::Task<std::optional<QString>> download(PurchasedApp app, std::optional<AppVersion> version);
    QCoro::Task<std::optional<QString>> download(Target target, std::optional<AppVersion> version);
    void refreshDownloadedSet();
    /// The .ipa files of the downloads folder, newest first.
    QList<LocalIPA> localFiles() const;
    void deleteFile(const QString& path);
    /// False when no file browser answered.
    bool revealInFinder(const QString& path);

    // Installation onto the phone; outcomes go to the activity, the log or the alert.
    QCoro::Task<> installOnDevice(PurchasedApp app, std::optional<AppVersion> version);
    QCoro::Task<> installOnDevice(Target target, std::optional<AppVersion> version);
    QCoro::Task<> installLocalFile(QString path);
    /// Ends the app's running download or install; it ends neither done nor failed.
    void cancel(qint64 appID);

    // Versions and App IDs.
    /// Newest first; the newest twelve with version numbers and dates. Never fails: a failure is
    /// logged and remembered as an empty list for the rest of the run.
    QCoro::Task<QList<AppVersion>> loadVersions(qint64 adamID, QString name);
    /// An App ID from a bare number or a store link.
    static std::optional<qint64> parseAppID(const QString& text);
    /// What the App ID sheet runs: sets `appIDError` when the text holds no App ID, else is busy
    /// until the install (or download) ends, then sets `appIDError` to the failure, or emits
    /// `appIDFinished` for the sheet to close.
    QCoro::Task<> runAppID(QString text, bool install);
    void clearAppIDError();
    Target targetForAppID(qint64 appID) const;

    // Saving what is at risk: the archive queue, the delisting radar, what saved files say.
    const ArchiveQueue& archiveQueue() const { return m_queue; }
    /// Each queues the apps of its set that have no downloaded file and returns how many it added.
    int saveGoneApps();
    int saveLibrary();
    int saveNewlyGone();
    int saveUnsavedPhoneApps();
    int queueDownloads(const QList<Target>& targets);
    void pauseQueue();
    void resumeQueue();
    /// Empties the queue and stops the download it runs.
    void cancelQueue();
    /// The apps the last lookup found gone that were in the store before; the banner's list.
    const QList<qint64>& newlyGone() const { return m_newlyGone; }
    void dismissNewlyGone();
    /// Since when the app is gone, when the store was seen offering it before.
    std::optional<QDateTime> goneSince(qint64 appID) const { return m_radar.goneSince(appID); }
    /// What the file says about itself, once read.
    std::optional<IpaInfo> ipaInfo(const QString& path) const { return m_ipaInspector.info(path); }
    /// The icon of a saved file with this bundle id; null when there is none.
    QImage fileIcon(const QString& bundleID) const { return m_ipaInspector.icon(bundleID); }
    /// Reads what the files say, off the interface thread, for those not read yet.
    void inspectFiles(const QList<LocalIPA>& files);
    /// On the phone, gone from the store and with no file saved.
    bool isAtRisk(const InstalledApp& app) const;
    /// Why the file cannot go onto the phone, when its minimum iOS is above the phone's.
    static std::optional<QString> iosMismatch(const IpaInfo& info, const Device& device);

    // Self-update.
    /// "версия 1.2 (15)" for the running build.
    QString appVersionText() const;
    /// Never fails. An automatic check runs at most once a day and reports nothing unless it finds
    /// a newer build; a manual one always runs and shows its outcome.
    QCoro::Task<> checkForUpdates(bool manual);
    /// Never fails; downloads and verifies `updateInfo`, then swaps the bundle and quits. Does
    /// nothing while an install already runs.
    QCoro::Task<> installUpdate();
    /// Whether an update is being downloaded or installed; checks and a second install wait for it.
    bool isUpdating() const;
    /// Leaves a shown "up to date" or failure for the offer, if any, else for idle.
    void dismissUpdateResult();

Q_SIGNALS:
    void stageChanged();
    void searchChanged();
    void showOnlyGoneChanged();
    void syncProgressChanged();
    void syncStatusChanged();
    void lastSyncChanged();
    void selectedDeviceIDChanged();
    void deviceErrorChanged();
    void logChanged();
    void alertChanged();
    void downloadedBundleIDsChanged();
    void installedAppsErrorChanged();
    void loadingInstalledAppsChanged();
    void accountChanged();
    void keychainLockedChanged();
    void appsChanged();
    void devicesChanged();
    void installedAppsChanged();
    void knownAppsChanged();
    void activitiesChanged();
    void versionsByAppChanged();
    void appIDBusyChanged();
    void appIDErrorChanged();
    void appIDFinished();
    void updateStateChanged();
    void updateInfoChanged();
    void queueChanged();
    void newlyGoneChanged();
    void radarChanged();
    void ipaInfoChanged();
    void phoneStoreStatusChanged();
    /// A file too new for the phone was not installed; an older version of the app may fit.
    void olderVersionSuggested(const AppModel::Target& target);

private:
    template <typename T, typename Signal>
    void assign(T& field, T value, Signal changed)
    {
        if (field == value)
            return;
        field = std::move(value);
        Q_EMIT(this->*changed)();
    }

    void setStage(Stage stage);
    void setSyncProgress(std::optional<double> progress);
    void setSyncStatus(QString status);
    void setLastSync(std::optional<QDateTime> date);
    void setDeviceError(std::optional<QString> error);
    void setDownloadedBundleIDs(QSet<QString> ids);
    void setInstalledAppsError(std::optional<QString> error);
    void setLoadingInstalledApps(bool loading);

    void appendLog(const QString& text, bool isError);
    void trimLog();
    QCoro::Task<> noteToolVersions();

    void setAccount(std::optional<IPATool::Account> account);
    void setKeychainLocked(bool locked);
    /// The part of start-up that follows finding `account` signed in.
    QCoro::Task<> resumeSession(IPATool::Account account);
    /// Leaves a wrong keychain passphrase behind, so the next command asks for it again.
    void forgetWrongPassphrase(const IPAToolError& error);
    void setApps(QList<PurchasedApp> apps);
    void setDevices(QList<Device> devices);
    void setInstalledApps(QList<InstalledApp> apps);
    void setKnownApps(QList<KnownApp> apps);
    void setActivity(qint64 appID, AppActivity activity);
    void setAppIDBusy(bool busy);
    void setAppIDError(std::optional<QString> error);
    void storeVersions(qint64 adamID, QList<AppVersion> versions);
    void setUpdateState(UpdateState state);
    void setUpdateInfo(std::optional<UpdateInfo> info);

    QCoro::Task<QString> performDownload(Target target, std::optional<AppVersion> version, QString destination,
                                         bool purchase, CancelHandle cancel);
    /// Installs through cfgutil, falling back to ideviceinstaller; returns the installer that did it.
    QCoro::Task<QString> install(QString ipa, Device device, CfgUtil::ProgressHandler onProgress,
                                 std::optional<CancelHandle> cancel);
    static bool isCancellation(const std::exception& error);
    void logToolDetail(const std::exception& error);
    /// Gives the file its final name and returns where it is; throws when the tool reported
    /// success but left no file.
    QString finishDownload(const Target& target, const QString& destination, const QString& written);

    void setUpArchive();
    QCoro::Task<ArchiveQueue::Outcome> downloadQueued(ArchiveQueue::Item item);
    void setQueued(const QList<qint64>& appIDs, bool queued);
    /// Hands the radar the answers the store gave since `asked`; older ones from the cache say nothing new.
    void observeLookup(const QHash<qint64, ArtworkService::Info>& answers, const QDateTime& asked);
    void notePhoneAnswers(const QHash<qint64, ArtworkService::Info>& answers);
    /// Asks the store about the phone's apps: App IDs by bundle id for those without one, and
    /// whether the rest are still offered.
    QCoro::Task<> lookUpPhoneApps();
    /// Says so and suggests another version when the file will not run on the phone.
    QCoro::Task<bool> fitsDevice(QString path, Device device, std::optional<Target> target);

    /// Whether a task begun in `session` may still touch the account's data.
    bool isCurrentSession(quint64 session, const QString& email) const;
    static QCoro::Task<> watchDevices(QPointer<AppModel> model, quint64 generation);
    struct WatchPause;
    /// Drops the phone apps of a phone no longer selected and reads the selected one's.
    void followSelectedDevice();

    Stage m_stage = Stage::checking;
    QString m_search;
    bool m_showOnlyGone = false;
    std::optional<double> m_syncProgress;
    QString m_syncStatus;
    std::optional<QDateTime> m_lastSync;
    std::optional<QString> m_selectedDeviceID;
    std::optional<QString> m_deviceError;
    QList<LogEntry> m_log;
    std::unique_ptr<LogFile> m_logFile;
    std::optional<QString> m_alert;
    QSet<QString> m_downloadedBundleIDs;
    std::optional<QString> m_installedAppsError;
    bool m_loadingInstalledApps = false;
    std::optional<IPATool::Account> m_account;
    bool m_keychainLocked = false;
    QList<PurchasedApp> m_apps;
    QList<Device> m_devices;
    QList<InstalledApp> m_installedApps;
    QList<KnownApp> m_knownApps;
    QHash<qint64, AppActivity> m_activities;
    QHash<qint64, QList<AppVersion>> m_versionsByApp;
    bool m_appIDBusy = false;
    std::optional<QString> m_appIDError;
    UpdateState m_updateState;
    std::optional<UpdateInfo> m_updateInfo;
    // Bumped when a download ends, so its progress still queued cannot overwrite what followed.
    quint64 m_updateDownload = 0;

    // Bumped by every sign-in and sign-out, so a sync begun for one session never fills another.
    quint64 m_session = 0;
    std::chrono::milliseconds m_rateLimitPause;
    // Bumped to stop the device watch. A stop also ends the pause between passes at once, so no
    // loop is left suspended behind a model that is going away.
    quint64 m_watchGeneration = 0;
    bool m_watchRunning = false;
    int m_watchLoops = 0;
    QTimer m_watchTimer;
    std::coroutine_handle<> m_watchWaiter;
    // Bumped by every read of a phone's apps and by every change of phone: only the latest read
    // publishes, so a slow read of a phone left behind cannot fill the list of the one chosen since.
    quint64 m_appsRead = 0;
    int m_appsReadsRunning = 0;
    // The phone that `installedApps` and its error belong to, or are being read from.
    std::optional<QString> m_appsDeviceID;

    Operations m_operations;
    IPATool m_ipatool;
    ArtworkService m_artwork;
    MuxDiscovery m_muxDiscovery;
    CfgUtil m_cfgutil;
    IDeviceInstaller m_fallbackInstaller;
    DeviceAppsReader m_deviceApps;
    KnownAppsStore m_knownStore;
    Updater m_updater;
    ArchiveQueue m_queue;
    DelistingRadar m_radar;
    IpaInspector m_ipaInspector;
    QList<qint64> m_newlyGone;
    // App IDs of phone apps the store no longer offers, from the lookup.
    QSet<qint64> m_phoneGone;
    // Apps whose last download Apple refused for being asked too often: the archive queue waits then.
    QSet<qint64> m_rateLimitedDownloads;
};
