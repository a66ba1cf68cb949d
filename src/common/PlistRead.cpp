#include "common/PlistRead.h"

#include <plist/plist.h>

#include <limits>

namespace PlistRead {

Document parse(const QByteArray& bytes)
{
    plist_t root = nullptr;
    if (!bytes.isEmpty() && static_cast<quint64>(bytes.size()) <= std::numeric_limits<uint32_t>::max())
        plist_from_memory(bytes.constData(), static_cast<uint32_t>(bytes.size()), &root);
    return Document(root, &plist_free);
}

std::optional<Document> dictionary(const QByteArray& bytes)
{
    Document document = parse(bytes);
    if (!document || plist_get_node_type(document.get()) != PLIST_DICT)
        return std::nullopt;
    return document;
}

std::optional<QString> string(Node dictionary, const char* key)
{
    const plist_t node = plist_dict_get_item(dictionary, key);
    if (!node || plist_get_node_type(node) != PLIST_STRING)
        return std::nullopt;
    uint64_t length = 0;
    const char* text = plist_get_string_ptr(node, &length);
    if (!text)
        return std::nullopt;
    return QString::fromUtf8(text, static_cast<qsizetype>(length));
}

} // namespace PlistRead
