#pragma once

#include "update/UpdateInfo.h"

#include <QNetworkAccessManager>
#include <QString>
#include <QUrl>

#include <QCoroTask>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class QNetworkReply;
class QTemporaryFile;

/// Updates the application from the maker's manifest: tells whether a newer build is out, downloads
/// and verifies its archive (status, SHA-256, a top-level bundle with our identifier) and hands the
/// swap to a script that runs once the application has quit. Nothing from the archive runs before
/// the swap, and nothing is swapped before every check has passed.
class Updater {
public:
    using ProgressHandler = std::function<void(double)>;

    struct Options {
        /// The build's manifest URL when absent.
        std::optional<QUrl> manifestUrl;
        /// The running bundle, read for version, build and identifier and replaced by the swap;
        /// the one the executable runs from when absent.
        std::optional<QString> bundlePath;
        /// What starting the swap ends with; the application's normal quit when empty.
        std::function<void()> quit;
        /// The process the swap script waits for; this one when absent.
        std::optional<qint64> processID;
        /// The key archives must be signed with; the build's own when absent.
        std::optional<QByteArray> publicKey;
    };

    static constexpr std::chrono::seconds manifestTimeout{15};
    static constexpr std::chrono::seconds downloadTimeout{60};

    explicit Updater(Options options = {});
    ~Updater();
    Updater(const Updater&) = delete;
    Updater& operator=(const Updater&) = delete;

    /// CFBundleShortVersionString of the running bundle; "0" when missing.
    const QString& currentVersion() const { return m_version; }
    /// CFBundleVersion of the running bundle as a whole number; 0 when missing or not one.
    qint64 currentBuild() const { return m_build; }
    const std::optional<QString>& bundleIdentifier() const { return m_identifier; }
    const std::optional<QString>& bundlePath() const { return m_bundlePath; }
    /// Whether this build can install an update at all: only one with a key to check signatures.
    bool canInstall() const { return m_publicKey.has_value(); }

    /// The manifest's record. Fails with UpdateError::badManifest, or with the network's own error.
    QCoro::Task<UpdateInfo> fetchLatest();
    /// The manifest's record when its build is newer than the running one.
    QCoro::Task<std::optional<UpdateInfo>> checkForUpdate();
    /// The verified new bundle (a folder inside the work folder). Reports 0.6, 0.75, 0.9 and 1.0.
    /// Nothing is unpacked before the archive's signature was checked against the build's key.
    QCoro::Task<QString> download(UpdateInfo info, ProgressHandler onProgress = {});
    /// Starts the swap script for `newApp` and quits; throws when the swap cannot be started.
    void installAndRestart(const QString& newApp);

    /// An optional sign and decimal digits only, within 64 bits; 0 for anything else.
    static qint64 parseBuild(const QString& text);
    static QString shellQuoted(const QString& text);
    static QString swapScript(qint64 processID, const QString& app, const QString& newApp);
    /// Where the work folders of a build's installs go; each adds a unique ending.
    static QString workFolderPrefix(qint64 build);

private:
    QCoro::Task<std::unique_ptr<QTemporaryFile>> fetchArchive(QUrl url);
    static QCoro::Task<> unpack(QString archive, QString folder);
    /// The first real folder named *.app directly inside `folder` whose identifier is ours.
    QString verifiedBundle(const QString& folder) const;

    QUrl m_manifestUrl;
    std::optional<QString> m_bundlePath;
    std::function<void()> m_quit;
    std::optional<qint64> m_processID;
    QString m_version;
    qint64 m_build = 0;
    std::optional<QByteArray> m_publicKey;
    std::optional<QString> m_identifier;
    QNetworkAccessManager m_network;
};
