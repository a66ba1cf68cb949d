#include "device/Device.h"

#include <QStringList>

QString Device::id() const
{
    if (udid)
        return *udid;
    if (ecid)
        return *ecid;
    return name;
}

bool Device::canUseCfgutil() const
{
    return ecid.has_value() && link == Link::usb;
}

QString Device::accessHint() const
{
    if (isLocked)
        return QStringLiteral("iPhone заблокирован — разблокируй экран");
    if (!isPaired)
        return QStringLiteral("iPhone не доверяет этому компьютеру — разблокируй его и нажми «Доверять»");
    return {};
}

QString Device::subtitle() const
{
    QStringList parts;
    if (model)
        parts.append(*model);
    if (iosVersion)
        parts.append(QStringLiteral("iOS ") + *iosVersion);
    parts.append(label(link));
    return parts.join(QStringLiteral(" · "));
}

QString Device::label(Link link)
{
    switch (link) {
    case Link::usb:
        return QStringLiteral("кабель");
    case Link::wifi:
        return QStringLiteral("Wi-Fi");
    }
    return {};
}

size_t qHash(const Device& device, size_t seed) noexcept
{
    // An absent field must hash apart from an empty one, as equality tells them apart.
    const auto optional = [](const std::optional<QString>& value) {
        return value ? qHash(*value) ^ 0x9e3779b9u : size_t(0);
    };
    return qHashMulti(seed, optional(device.ecid), optional(device.udid), device.name, optional(device.model),
                      optional(device.iosVersion), static_cast<int>(device.link), device.isPaired, device.isLocked);
}
