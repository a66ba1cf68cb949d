#pragma once

#include "model/AppModel.h"

#include <QByteArray>
#include <QFuture>
#include <QFutureWatcher>
#include <QList>
#include <QString>

#include <memory>
#include <optional>
#include <utility>

class DemoUpdateServer;

/// The throw-away world of `--demo`: the stand-in program installed under every tool's name,
/// the demo scenario, and a home, settings and support folder inside a temporary folder, with the
/// lookup cache and a few downloads already there. The real application runs against it without
/// touching the user's files, keychain or the network. Create it after the application object and
/// before the model; it restores the environment and removes every file when it goes.
///
/// The demo's update road replaces the bundle it runs from, so `make demo` runs the application
/// from a copy inside the throw-away folder (relaunchFromCopy), which offers a newer build of
/// itself from a loopback server. The copy the update relaunches finds the folder again and
/// carries on in it.
class DemoEnvironment {
public:
    /// `dataDirectory` holds `quorrel-standin` and `icons/`; by default the running bundle's.
    /// `folder` is the throw-away folder to use, by default a new one; when it holds a copy of the
    /// bundle, that copy is offered a newer build of itself.
    explicit DemoEnvironment(std::optional<QString> dataDirectory = bundledDataDirectory(),
                             std::optional<QString> folder = copyFolder());
    ~DemoEnvironment();
    DemoEnvironment(const DemoEnvironment&) = delete;
    DemoEnvironment& operator=(const DemoEnvironment&) = delete;

    /// Why the demo cannot run (its program or data missing, no temporary folder); nothing was
    /// redirected then.
    const std::optional<QString>& error() const { return m_error; }
    bool isReady() const { return !m_error; }

    QString rootPath() const { return m_root; }
    QString homePath() const;
    QString toolsDirectory() const;
    /// For the model: the lookup endpoint is a local address that answers nothing at once; the
    /// update check goes to the demo's own server when there is a bundle copy to update, and
    /// nowhere otherwise.
    AppModel::Endpoints endpoints() const;
    /// The demo's server when it offers an update; absent without a bundle copy.
    DemoUpdateServer* updateServer() const { return m_offersUpdate ? m_server.get() : nullptr; }
    /// Serves the app icons; absent only when it could not listen.
    DemoUpdateServer* server() const { return m_server.get(); }
    /// Leaves the folder behind for the copy an update relaunches, which removes it in its turn.
    void keepFolder() { m_keep = true; }

    /// `Contents/Resources/demo` of the running bundle.
    static std::optional<QString> bundledDataDirectory();
    /// The throw-away folder when this process runs from the bundle copy inside it.
    static std::optional<QString> copyFolder();
    /// Copies the running bundle into a new throw-away folder and replaces this process with the
    /// copy, keeping the arguments. Returns only when that failed, with the reason.
    static QString relaunchFromCopy(char* argv[]);

private:
    std::optional<QString> prepare(const QString& dataDirectory);
    void redirect();
    void restore();
    std::optional<QString> seedSupportFolder();
    void startServer();
    std::optional<QString> offerUpdate();
    QString bundleCopy() const;

    QString m_root;
    std::optional<QString> m_error;
    bool m_redirected = false;
    bool m_keep = false;
    QList<std::pair<const char*, QByteArray>> m_savedEnvironment;
    std::unique_ptr<DemoUpdateServer> m_server;
    bool m_offersUpdate = false;
    std::optional<QByteArray> m_updateKey;
    QFuture<QString> m_offerBuild;
    std::unique_ptr<QFutureWatcher<QString>> m_offerWatcher;
};
