#pragma once

#include <QString>

#include <memory>
#include <optional>

class QSettings;

/// The thin layer over the desktop; the only code that asks which platform it runs on.
namespace Platform {

constexpr bool isLinux()
{
#if defined(Q_OS_LINUX) || defined(__linux__)
    return true;
#else
    return false;
#endif
}

constexpr bool isMacOS()
{
#if defined(Q_OS_MACOS)
    return true;
#else
    return false;
#endif
}

/// The per-user folder under which the application keeps its own support folder.
QString applicationSupportBase();

/// The per-user folder the log file goes to: `$XDG_STATE_HOME/Quorrel` (`~/.local/state/Quorrel`)
/// on Linux, `~/Library/Logs/Quorrel` on macOS.
QString logDirectory();
/// "Debian GNU/Linux 12 (bookworm), Linux 6.1.0, x86_64": what a report needs to know of the system.
QString description();

/// `…/Quorrel.app` when the running executable sits in a bundle's Contents/MacOS.
std::optional<QString> bundlePath();
/// `…/Quorrel.app/Contents/Resources` of the running bundle.
std::optional<QString> bundleResourceDirectory();

/// The user's preferences for the application. The location is looked up at every call (QSettings
/// keeps the first one it computed for the whole process), so a test's temporary home is honoured.
std::unique_ptr<QSettings> preferences();

/// Moves the file to the user's Trash; returns whether it went.
bool moveToTrash(const QString& path);
/// Shows the desktop's file browser with the item selected (or, failing that, its folder open);
/// false when nothing on the desktop answered.
bool revealInFileBrowser(const QString& path);
/// A desktop notification, sent without waiting for an answer; nothing where the desktop has none.
void notify(const QString& title, const QString& body);

} // namespace Platform
