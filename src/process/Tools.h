#pragma once

#include <QString>
#include <QStringList>

#include <optional>

/// Where the external tools and the application's own folders are. Every lookup is made afresh,
/// so a tool installed while the application runs is found at the next call.
namespace Tools {

/// On Linux also the folders users put a release in, each for "ipatool" and then for the newest
/// release file of the folder ("ipatool-2.6.0-linux-amd64").
std::optional<QString> ipatool();
/// That newest release file in `folder`, if it holds one that can run.
std::optional<QString> newestReleaseFile(const QString& folder);
std::optional<QString> cfgutil();
std::optional<QString> ideviceinstaller();
std::optional<QString> ideviceID();
std::optional<QString> ideviceinfo();
/// The mux daemon's program, whether it runs or not (on Linux it starts when a phone is plugged in).
std::optional<QString> usbmuxd();

/// The folders are created (with their parents) on every call; a failure to create is left to
/// whoever writes there first.
QString supportDirectory();
QString downloadsDirectory();
QString cacheDirectory();

/// The tool named `name` inside the resource folder, else the first executable of `paths`.
std::optional<QString> candidates(const QString& name, const QStringList& paths);

/// Redirections for tests and the demo: a resource folder holding stand-in tools, a throw-away
/// support folder, and whether tools installed on the system are looked at at all.
void setResourceDirectory(std::optional<QString> path);
void setSupportDirectory(std::optional<QString> path);
void setSystemToolsSearched(bool searched);

std::optional<QString> resourceDirectory();

} // namespace Tools
