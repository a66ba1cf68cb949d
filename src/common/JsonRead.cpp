#include "common/JsonRead.h"

#include <QJsonDocument>
#include <QVariant>

#include <cmath>

namespace JsonRead {

std::optional<QJsonObject> object(const QByteArray& json)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    return document.object();
}

std::optional<QString> string(const QJsonValue& value)
{
    if (!value.isString())
        return std::nullopt;
    return value.toString();
}

std::optional<qint64> integer(const QJsonValue& value)
{
    if (!value.isDouble())
        return std::nullopt;
    // Integers the parser kept exact come back exact, beyond what a double can hold.
    const QVariant variant = value.toVariant();
    if (variant.typeId() == QMetaType::LongLong)
        return variant.toLongLong();
    const double number = value.toDouble();
    // 2^63 is exactly representable; anything at or above it would overflow the conversion.
    if (!std::isfinite(number) || std::trunc(number) != number || number < -9223372036854775808.0
        || number >= 9223372036854775808.0)
        return std::nullopt;
    return static_cast<qint64>(number);
}

std::optional<double> number(const QJsonValue& value)
{
    if (!value.isDouble())
        return std::nullopt;
    return value.toDouble();
}

std::optional<bool> boolean(const QJsonValue& value)
{
    if (!value.isBool())
        return std::nullopt;
    return value.toBool();
}

namespace {
template <typename T, typename Reader>
bool optionalField(const QJsonObject& object, QLatin1String key, std::optional<T>& out, Reader reader)
{
    out.reset();
    const QJsonValue value = object.value(key);
    if (value.isUndefined() || value.isNull())
        return true;
    out = reader(value);
    return out.has_value();
}
} // namespace

bool optionalString(const QJsonObject& object, QLatin1String key, std::optional<QString>& out)
{
    return optionalField(object, key, out, [](const QJsonValue& value) { return string(value); });
}

bool optionalInteger(const QJsonObject& object, QLatin1String key, std::optional<qint64>& out)
{
    return optionalField(object, key, out, [](const QJsonValue& value) { return integer(value); });
}

bool optionalNumber(const QJsonObject& object, QLatin1String key, std::optional<double>& out)
{
    return optionalField(object, key, out, [](const QJsonValue& value) { return number(value); });
}

} // namespace JsonRead
