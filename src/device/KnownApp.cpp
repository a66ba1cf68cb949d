#include "device/KnownApp.h"

#include "common/JsonRead.h"
#include "common/ReferenceDate.h"

QJsonObject KnownApp::toJson() const
{
    return {{QLatin1String("adamID"), adamID},
            {QLatin1String("bundleID"), bundleID},
            {QLatin1String("name"), name},
            {QLatin1String("source"), source},
            {QLatin1String("seenAt"), ReferenceDate::toSeconds(seenAt)}};
}

std::optional<KnownApp> KnownApp::fromJson(const QJsonValue& value)
{
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject object = value.toObject();
    const std::optional<qint64> adamID = JsonRead::integer(object, QLatin1String("adamID"));
    const std::optional<QString> bundleID = JsonRead::string(object, QLatin1String("bundleID"));
    const std::optional<QString> name = JsonRead::string(object, QLatin1String("name"));
    const std::optional<QString> source = JsonRead::string(object, QLatin1String("source"));
    const std::optional<double> seconds = JsonRead::number(object, QLatin1String("seenAt"));
    const std::optional<QDateTime> seenAt = seconds ? ReferenceDate::fromSeconds(*seconds) : std::nullopt;
    if (!adamID || !bundleID || !name || !source || !seenAt)
        return std::nullopt;
    return KnownApp{*adamID, *bundleID, *name, *source, *seenAt};
}

size_t qHash(const KnownApp& app, size_t seed) noexcept
{
    return qHashMulti(seed, app.adamID, app.bundleID, app.name, app.source, app.seenAt);
}
