#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>

#include <optional>

/// Typed readers for JSON fields that never guess: a value of the wrong type is absent, not
/// converted, so callers can tell a missing key from one with a usable value.
namespace JsonRead {

/// The top-level object of a document; absent for anything that is not a JSON object
/// (including nesting deeper than the parser allows).
std::optional<QJsonObject> object(const QByteArray& json);

std::optional<QString> string(const QJsonValue& value);
/// A number with no fraction that fits a signed 64-bit integer.
std::optional<qint64> integer(const QJsonValue& value);
std::optional<double> number(const QJsonValue& value);
std::optional<bool> boolean(const QJsonValue& value);

inline std::optional<QString> string(const QJsonObject& object, QLatin1String key)
{
    return string(object.value(key));
}
inline std::optional<qint64> integer(const QJsonObject& object, QLatin1String key)
{
    return integer(object.value(key));
}
inline std::optional<double> number(const QJsonObject& object, QLatin1String key)
{
    return number(object.value(key));
}
inline std::optional<bool> boolean(const QJsonObject& object, QLatin1String key)
{
    return boolean(object.value(key));
}

/// Read a stored optional field into `out`: a missing or null key leaves it absent. They return
/// false when the key holds the wrong type, which a strict decoder takes as an unreadable file.
bool optionalString(const QJsonObject& object, QLatin1String key, std::optional<QString>& out);
bool optionalInteger(const QJsonObject& object, QLatin1String key, std::optional<qint64>& out);
bool optionalNumber(const QJsonObject& object, QLatin1String key, std::optional<double>& out);

} // namespace JsonRead
