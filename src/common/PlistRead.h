#pragma once

#include <QByteArray>
#include <QString>

#include <memory>
#include <optional>

/// Property lists (XML or binary) read through libplist, for the phone's app lists and bundles'
/// Info.plist files alike. Nothing here throws: what does not parse is simply absent.
namespace PlistRead {

using Node = void*; // plist_t, kept out of this header
using Document = std::unique_ptr<void, void (*)(Node)>;

/// Whether libplist may be handed `bytes`: within the size cap, nested no deeper than real lists
/// are, and for a binary list a trailer, offset table and references that stay inside the data.
bool isWithinLimits(const QByteArray& bytes);
/// The root node, or an empty document when the bytes are no property list or not within limits.
Document parse(const QByteArray& bytes);
/// The root when it is a dictionary.
std::optional<Document> dictionary(const QByteArray& bytes);
/// A string value of `dictionary`, absent when missing or of another type.
std::optional<QString> string(Node dictionary, const char* key);

} // namespace PlistRead
