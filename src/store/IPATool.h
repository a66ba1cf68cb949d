#pragma once

#include "process/CancelHandle.h"
#include "process/ProcessRunner.h"
#include "store/AppVersion.h"
#include "store/IPAToolError.h"
#include "store/PurchasedApp.h"

#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVersionNumber>

#include <QCoroTask>

#include <chrono>
#include <functional>
#include <optional>

struct ProcessOutput;

/// The only way to the App Store: every operation runs one `ipatool` command and turns its JSON
/// answer into records or an IPAToolError. The sign-in lives inside ipatool; the client holds only
/// the keychain passphrase and the tool's version, so operations may run side by side.
class IPATool {
public:
    struct Account {
        QString name;
        QString email;

        friend bool operator==(const Account&, const Account&) = default;
    };

    struct PurchasesPage {
        QList<PurchasedApp> apps;
        qint64 totalCount = 0;
        /// Entries the page listed, readable or not: what paging goes by.
        qsizetype rawCount = 0;
        /// Entries left out of `apps` because they could not be read.
        qsizetype skipped = 0;
        /// Entries left out because they run on neither iPhone nor iPad (Mac, Apple TV, Vision Pro).
        qsizetype otherPlatforms = 0;
    };

    using ByteHandler = std::function<void(qint64)>;

    /// The first sign-in on a machine may take minutes before ipatool says anything.
    static constexpr std::chrono::minutes signInWatchdog{10};
    /// The first version with `list-purchases`.
    static QVersionNumber historyVersion() { return QVersionNumber(2, 5); }

    /// `watchdog`: how long a command may stay silent (a download: not grow) before it is ended
    /// as hung; the build's limit when absent.
    explicit IPATool(std::chrono::milliseconds progressInterval = std::chrono::milliseconds(300),
                     std::optional<std::chrono::milliseconds> watchdog = std::nullopt);

    /// Unlocks ipatool's own file keyring for every later command; absent for none. Kept in memory
    /// only: ipatool takes it on its command line alone.
    void setKeychainPassphrase(std::optional<QString> passphrase) { m_keychainPassphrase = std::move(passphrase); }

    /// What `ipatool --version` says, read once per tool file; absent when it cannot be told.
    QCoro::Task<std::optional<QVersionNumber>> version();

    /// Absent when nobody is signed in; fails when ipatool is missing or cannot start, or when its
    /// keychain will not open.
    QCoro::Task<std::optional<Account>> accountInfo();
    /// An empty `code` is not passed on.
    QCoro::Task<Account> login(QString email, QString password, QString code = {});
    QCoro::Task<> logout();
    QCoro::Task<PurchasesPage> purchases(int page, int limit = 100, std::optional<CancelHandle> cancel = std::nullopt);
    QCoro::Task<QStringList> versions(qint64 appID);
    /// Never fails for want of an answer: the optional fields are then absent.
    QCoro::Task<AppVersion> versionMetadata(qint64 appID, QString externalVersionID);
    /// Returns the path ipatool says it wrote, whatever `destination` was. `onBytes` gets the size
    /// on disk every progress interval while the download runs and never after it returned.
    QCoro::Task<QString> download(qint64 appID, std::optional<QString> externalVersionID, QString destination,
                                  bool purchaseIfNeeded, ByteHandler onBytes,
                                  std::optional<CancelHandle> cancel = std::nullopt);

    /// Runs ipatool with the common prefix and `words`; strict unless `allowFailure`. `control`
    /// carries the cancel handle and the watchdog; the client's own watchdog when it has none.
    QCoro::Task<std::optional<QJsonObject>> runJSON(QStringList words, bool allowFailure,
                                                    ProcessRunner::Options control);
    QCoro::Task<std::optional<QJsonObject>> runJSON(QStringList words, bool allowFailure);

    // The pure steps of the operations, tested without a process.
    static std::optional<QJsonObject> pickAnswer(const QStringList& lines);
    /// Steps after the run: returns the answer, or throws as a strict or lenient command should.
    static std::optional<QJsonObject> judge(const ProcessOutput& output, std::optional<QJsonObject> answer,
                                            bool allowFailure);
    static std::optional<Account> accountFrom(const std::optional<QJsonObject>& answer);
    /// Throws what a login run means when it is not a success.
    static void checkLogin(const ProcessOutput& output, const std::optional<QJsonObject>& answer);
    /// Throws when the answer holds no list of apps at all.
    static PurchasesPage purchasesFrom(const QJsonObject& answer);
    /// The IPAToolError an error text of any command stands for.
    static IPAToolError errorFor(const QString& text);
    /// The version in `ipatool --version` output ("ipatool version 2.6.0").
    static std::optional<QVersionNumber> parseVersion(const QString& output);
    /// Why a tool older than historyVersion() (of a version not known when absent) cannot read the history.
    static QString historyRefusal(const std::optional<QVersionNumber>& version);
    static std::optional<QDateTime> parseDate(const QString& text);
    /// The bytes a download has on disk so far: the destination itself, else the largest sibling
    /// named after it (ipatool may write under a temporary name first).
    static qint64 measureDownload(const QString& destination);

private:
    /// Runs ipatool with the common prefix; the client's watchdog unless `control` has one.
    QCoro::Task<ProcessOutput> runTool(QStringList words, ProcessRunner::Options control);

    std::chrono::milliseconds m_progressInterval;
    std::chrono::milliseconds m_watchdog;
    std::optional<QString> m_keychainPassphrase;

    struct VersionReading {
        QString path;
        QDateTime modified;
        std::optional<QVersionNumber> version;
    };
    std::optional<VersionReading> m_version;
};
