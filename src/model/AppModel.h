#pragma once

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QUuid>

#include <QCoroTask>

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
    // --- account properties ---
    // --- end account properties ---
    // --- device properties ---
    // --- end device properties ---

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

    explicit AppModel(QObject* parent = nullptr);
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

    // Written by the views.
    void setSearch(QString search);
    void setShowOnlyGone(bool showOnlyGone);
    void setSelectedDeviceID(std::optional<QString> id);
    void setAlert(std::optional<QString> alert);

    void note(const QString& text);
    void fail(const QString& text);

    /// The start-up sequence; never fails. The window runs it once its root view is shown.
    QCoro::Task<> bootstrap();

    // --- account operations (AppModelAccount.cpp) ---
    // --- end account operations ---

    // --- device operations (AppModelDevices.cpp) ---
    // --- end device operations ---

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
    // --- account signals ---
    // --- end account signals ---
    // --- device signals ---
    // --- end device signals ---

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

    // --- account private ---
    // --- end account private ---
    // --- device private ---
    // --- end device private ---

    Stage m_stage = Stage::checking;
    QString m_search;
    bool m_showOnlyGone = false;
    std::optional<double> m_syncProgress;
    QString m_syncStatus;
    std::optional<QDateTime> m_lastSync;
    std::optional<QString> m_selectedDeviceID;
    std::optional<QString> m_deviceError;
    QList<LogEntry> m_log;
    std::optional<QString> m_alert;
    QSet<QString> m_downloadedBundleIDs;
    std::optional<QString> m_installedAppsError;
    bool m_loadingInstalledApps = false;
};
