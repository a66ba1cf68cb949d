#pragma once

#include "device/Device.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <QCoroTask>

#include <chrono>
#include <memory>
#include <optional>

/// Finds phones on cable and Wi-Fi through libimobiledevice's idevice_id and ideviceinfo.
/// A phone's name, model and system version are read once and kept while it stays listed, so
/// watching costs one idevice_id run; a phone that does not trust this computer (or is locked) is
/// asked again only now and then, as every ask may put the trust dialog up again. The same set
/// of phones always comes back in the same order.
class MuxDiscovery {
public:
    /// One phone of an idevice_id answer.
    struct Listed {
        QString udid;
        Device::Link link = Device::Link::usb;
        friend bool operator==(const Listed&, const Listed&) = default;
    };

    /// `watchdog`: how long a tool may stay silent; the build's limit when absent.
    explicit MuxDiscovery(std::optional<std::chrono::milliseconds> watchdog = std::nullopt);

    static bool isAvailable();

    /// Empty when idevice_id is missing. Throws CfgUtilError with the advice when no mux daemon
    /// answers on Linux, ToolError when idevice_id cannot be started.
    QCoro::Task<QList<Device>> devices();
    /// The next pass asks again, at once, every phone that could not be read fully (the user has
    /// just unlocked it or tapped "Доверять").
    void askAgain();

    /// `idevice_id` without arguments: "UDID (USB)" or "UDID (Network)" a line (a bare UDID counts
    /// as a cable). Sorted by UDID, each once; a phone on both links is on the cable.
    static QList<Listed> parseListing(const QString& output);
    /// ideviceinfo's plain answer: the top-level "Key: value" lines.
    static QHash<QString, QString> parseInfo(const QString& output);
    /// What a refused session says of the phone: untrusted, or locked.
    static void applyRefusal(Device& device, const QString& said);

    /// How long a phone that could not be read fully is left alone before it is asked again.
    static constexpr std::chrono::seconds recheckInterval{10};

private:
    struct Known;
    using Cache = QHash<QString, Known>;

    static QCoro::Task<Known> describe(QString udid, Device::Link link, std::chrono::milliseconds watchdog);

    // Shared with running passes, so a pass that ends after its owner went touches nothing freed.
    std::shared_ptr<Cache> m_known;
    std::chrono::milliseconds m_watchdog;
};
