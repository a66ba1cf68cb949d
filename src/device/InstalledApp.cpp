#include "device/InstalledApp.h"

#include <QJsonValue>

#include <limits>

namespace {

std::optional<qint64> wholeNumber(const QJsonValue& value)
{
    constexpr qint64 notWhole = std::numeric_limits<qint64>::min();
    const qint64 number = value.isDouble() ? value.toInteger(notWhole) : notWhole;
    return number == notWhole ? std::nullopt : std::optional<qint64>(number);
}

} // namespace

QJsonObject InstalledApp::toJson() const
{
    QJsonObject object{{QLatin1String("bundleID"), bundleID}, {QLatin1String("name"), name}};
    if (version)
        object.insert(QLatin1String("version"), *version);
    if (adamID)
        object.insert(QLatin1String("adamID"), *adamID);
    return object;
}

std::optional<InstalledApp> InstalledApp::fromJson(const QJsonObject& object)
{
    const QJsonValue bundleID = object.value(QLatin1String("bundleID"));
    const QJsonValue name = object.value(QLatin1String("name"));
    if (!bundleID.isString() || !name.isString())
        return std::nullopt;
    InstalledApp app{bundleID.toString(), name.toString(), std::nullopt, std::nullopt};
    const QJsonValue version = object.value(QLatin1String("version"));
    if (version.isString())
        app.version = version.toString();
    else if (!version.isUndefined() && !version.isNull())
        return std::nullopt;
    const QJsonValue adamID = object.value(QLatin1String("adamID"));
    if (!adamID.isUndefined() && !adamID.isNull()) {
        app.adamID = wholeNumber(adamID);
        if (!app.adamID)
            return std::nullopt;
    }
    return app;
}

size_t qHash(const InstalledApp& app, size_t seed) noexcept
{
    return qHashMulti(seed, app.bundleID, app.name, app.version ? qHash(*app.version) ^ 0x9e3779b9u : size_t(0),
                      app.adamID ? qHash(*app.adamID) ^ 0x7f4a7c15u : size_t(0));
}
