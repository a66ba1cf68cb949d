#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>

#include <plist/plist.h>

#include <cmath>
#include <cstdlib>
#include <memory>

// Owning handles and small readers over libplist, enough for the phone's side of each protocol.
namespace Plists {

struct Free {
    void operator()(plist_t node) const { plist_free(node); }
};
using Plist = std::unique_ptr<void, Free>;

inline Plist parse(const QByteArray& bytes)
{
    plist_t node = nullptr;
    if (!bytes.isEmpty())
        plist_from_memory(bytes.constData(), static_cast<uint32_t>(bytes.size()), &node);
    return Plist(node);
}

inline QByteArray xml(plist_t node)
{
    char* text = nullptr;
    uint32_t length = 0;
    plist_to_xml(node, &text, &length);
    QByteArray result(text, static_cast<qsizetype>(length));
    plist_to_xml_free(text);
    return result;
}

inline QByteArray binary(plist_t node)
{
    char* bytes = nullptr;
    uint32_t length = 0;
    plist_to_bin(node, &bytes, &length);
    QByteArray result(bytes, static_cast<qsizetype>(length));
    plist_to_bin_free(bytes);
    return result;
}

/// A string member as UTF-8; empty when missing or of another type.
inline QByteArray text(plist_t dict, const char* key)
{
    const plist_t item = dict ? plist_dict_get_item(dict, key) : nullptr;
    if (!item || plist_get_node_type(item) != PLIST_STRING)
        return {};
    char* value = nullptr;
    plist_get_string_val(item, &value);
    QByteArray result(value);
    std::free(value);
    return result;
}

inline quint64 number(plist_t dict, const char* key)
{
    const plist_t item = dict ? plist_dict_get_item(dict, key) : nullptr;
    uint64_t value = 0;
    if (item && plist_get_node_type(item) == PLIST_UINT)
        plist_get_uint_val(item, &value);
    return value;
}

inline plist_t string(const QString& value)
{
    return plist_new_string(value.toUtf8().constData());
}

inline plist_t string(const char* value)
{
    return plist_new_string(value);
}

inline plist_t data(const QByteArray& bytes)
{
    return plist_new_data(bytes.constData(), static_cast<uint64_t>(bytes.size()));
}

/// Scenario files are JSON; an "iTunesMetadata" object becomes the binary property list the phone
/// keeps for store apps, carried as data.
inline plist_t fromJson(const QJsonValue& value, const QString& key = {})
{
    switch (value.type()) {
    case QJsonValue::Object: {
        const QJsonObject object = value.toObject();
        plist_t dict = plist_new_dict();
        for (auto it = object.begin(); it != object.end(); ++it)
            plist_dict_set_item(dict, it.key().toUtf8().constData(), fromJson(it.value(), it.key()));
        if (key == QLatin1String("iTunesMetadata")) {
            const Plist owned(dict);
            return data(binary(owned.get()));
        }
        return dict;
    }
    case QJsonValue::Array: {
        plist_t array = plist_new_array();
        for (const QJsonValue& item : value.toArray())
            plist_array_append_item(array, fromJson(item));
        return array;
    }
    case QJsonValue::Bool:
        return plist_new_bool(value.toBool() ? 1 : 0);
    case QJsonValue::Double: {
        const double number = value.toDouble();
        if (number >= 0 && std::floor(number) == number)
            return plist_new_uint(static_cast<uint64_t>(number));
        return plist_new_real(number);
    }
    default:
        return string(value.toString());
    }
}

} // namespace Plists
