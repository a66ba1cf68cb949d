#pragma once

#include <QHashFunctions>
#include <QString>

#include <optional>

/// One connected phone, as cfgutil or libimobiledevice describe it.
struct Device {
    enum class Link { usb, wifi };

    std::optional<QString> ecid; // only from cfgutil
    std::optional<QString> udid;
    QString name;
    std::optional<QString> model; // hardware identifier as the tool prints it, e.g. "iPhone14,2"
    std::optional<QString> iosVersion;
    Link link = Link::usb;
    bool isPaired = true;
    /// Locked with a passcode, so it cannot be paired or worked with until unlocked.
    bool isLocked = false;

    /// Identity for selection and list rows: UDID, else ECID, else name.
    QString id() const;
    bool canUseCfgutil() const;
    /// It trusts this computer and is unlocked, so its apps can be read and installed.
    bool isReady() const { return isPaired && !isLocked; }
    /// What to do on the phone before it can be used; empty when it is ready.
    QString accessHint() const;
    /// "model · iOS version · link", leaving out what is unknown.
    QString subtitle() const;

    static QString label(Link link);

    friend bool operator==(const Device&, const Device&) = default;
};

size_t qHash(const Device& device, size_t seed = 0) noexcept;
