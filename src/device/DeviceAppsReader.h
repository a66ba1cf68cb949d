#pragma once

#include "device/InstalledApp.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <QCoroTask>

#include <chrono>
#include <optional>

/// Lists the apps on a phone with their App IDs, which only the store metadata each installed
/// app carries reveals. Read through ideviceinstaller; holds no state.
class DeviceAppsReader {
public:
    /// `watchdog`: how long a read may stay silent; the build's limit when absent.
    explicit DeviceAppsReader(std::optional<std::chrono::milliseconds> watchdog = std::nullopt);

    /// Sorted by name. Throws CfgUtilError, or ToolError when ideviceinstaller cannot start.
    /// `network`: the phone is reachable over Wi-Fi only.
    QCoro::Task<QList<InstalledApp>> read(QString udid, bool network = false);

    /// The tool's property-list answer (XML or binary), in the tool's order. A malformed entry is
    /// skipped or loses its App ID; a document that is no list of dictionaries throws CfgUtilError.
    static QList<InstalledApp> parseAppList(const QByteArray& document);
    /// "itemId" of an embedded iTunesMetadata property list, XML or binary.
    static std::optional<qint64> adamIDFromMetadata(const QByteArray& metadata);

private:
    static QCoro::Task<QList<InstalledApp>> readViaIDeviceInstaller(QString tool, QString udid, bool network,
                                                                    std::chrono::milliseconds watchdog);

    std::chrono::milliseconds m_watchdog;
};
