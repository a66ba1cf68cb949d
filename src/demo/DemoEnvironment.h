#pragma once

#include "model/AppModel.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QTemporaryDir>

#include <optional>
#include <utility>

/// The throw-away world of `--demo`: the stand-in program installed under every tool's name,
/// the demo scenario, and a home, settings and support folder inside a temporary folder, with the
/// lookup cache and a few downloads already there. The real application runs against it without
/// touching the user's files, keychain or the network. Create it after the application object and
/// before the model; it restores the environment and removes every file when it goes.
class DemoEnvironment {
public:
    /// `dataDirectory` holds `quorrel-standin` and `icons/`; by default the running bundle's.
    explicit DemoEnvironment(std::optional<QString> dataDirectory = bundledDataDirectory());
    ~DemoEnvironment();
    DemoEnvironment(const DemoEnvironment&) = delete;
    DemoEnvironment& operator=(const DemoEnvironment&) = delete;

    /// Why the demo cannot run (its program or data missing, no temporary folder); nothing was
    /// redirected then.
    const std::optional<QString>& error() const { return m_error; }
    bool isReady() const { return !m_error; }

    QString rootPath() const { return m_root.path(); }
    QString homePath() const;
    QString toolsDirectory() const;
    /// For the model: the lookup endpoint is a local address that answers nothing at once.
    AppModel::Endpoints endpoints() const;

    /// `Contents/Resources/demo` of the running bundle.
    static std::optional<QString> bundledDataDirectory();

private:
    std::optional<QString> prepare(const QString& dataDirectory);
    void redirect();
    std::optional<QString> seedSupportFolder();

    QTemporaryDir m_root;
    std::optional<QString> m_error;
    bool m_redirected = false;
    QList<std::pair<const char*, QByteArray>> m_savedEnvironment;
};
