#include "common/PlistRead.h"

#include <plist/plist.h>

#include <cstring>
#include <limits>
#include <vector>

namespace PlistRead {

namespace {

// Real property lists nest a handful of levels; libplist recurses without limit when it parses and
// frees, so anything deeper is refused before it gets there.
constexpr int maxDepth = 100;
constexpr qsizetype maxBytes = 128 * 1024 * 1024;
// A binary list may reference one object from many places, and libplist copies it at each: a few
// kilobytes could otherwise expand into billions of nodes.
constexpr quint64 maxExpandedNodes = 4'000'000;

// Big-endian unsigned of `width` bytes (1 to 8) at `at`; the caller has checked the bounds.
quint64 bigEndian(const uchar* at, int width)
{
    quint64 value = 0;
    for (int i = 0; i < width; ++i)
        value = (value << 8) | at[i];
    return value;
}

bool xmlWithinDepth(const QByteArray& bytes)
{
    const char* const begin = bytes.constData();
    const char* const end = begin + bytes.size();
    const auto skipPast = [end](const char* from, const char* closing) -> const char* {
        const size_t length = std::strlen(closing);
        for (const char* at = from; end - at >= static_cast<std::ptrdiff_t>(length); ++at) {
            if (std::memcmp(at, closing, length) == 0)
                return at + length;
        }
        return nullptr;
    };
    const auto startsWith = [end](const char* at, const char* word) {
        const size_t length = std::strlen(word);
        return end - at >= static_cast<std::ptrdiff_t>(length) && std::memcmp(at, word, length) == 0;
    };
    // The name must end there, so "<dictionary>" is not "<dict".
    const auto isName = [&](const char* at, const char* word) {
        if (!startsWith(at, word))
            return false;
        const char* after = at + std::strlen(word);
        return after == end || *after == '>' || *after == '/' || *after == ' ' || *after == '\t' || *after == '\n'
               || *after == '\r';
    };

    int depth = 0;
    const char* at = begin;
    while (at != end) {
        at = static_cast<const char*>(std::memchr(at, '<', static_cast<size_t>(end - at)));
        if (!at)
            return true;
        ++at;
        if (startsWith(at, "!--")) {
            at = skipPast(at + 3, "-->");
        } else if (startsWith(at, "![CDATA[")) {
            at = skipPast(at + 8, "]]>");
        } else if (startsWith(at, "?")) {
            at = skipPast(at + 1, "?>");
        } else if (isName(at, "/dict") || isName(at, "/array")) {
            depth = depth > 0 ? depth - 1 : 0;
        } else if (isName(at, "dict") || isName(at, "array")) {
            const char* close = static_cast<const char*>(std::memchr(at, '>', static_cast<size_t>(end - at)));
            if (!close)
                return false;
            if (close[-1] != '/' && ++depth > maxDepth)
                return false;
            at = close + 1;
        }
        // Unclosed comments and the like: libplist refuses those too.
        if (!at)
            return false;
    }
    return true;
}

// Checks the trailer, the offset table and every container of a binary list against its size,
// then walks the object graph without recursion: no cycles, bounded depth and expanded size.
bool binaryWithinLimits(const QByteArray& bytes)
{
    constexpr qsizetype headerSize = 8;
    constexpr qsizetype trailerSize = 32;
    const auto* const data = reinterpret_cast<const uchar*>(bytes.constData());
    const quint64 size = static_cast<quint64>(bytes.size());
    if (size < headerSize + trailerSize + 1)
        return false;
    const uchar* const trailer = data + size - trailerSize;
    const int offsetSize = trailer[6];
    const int refSize = trailer[7];
    const quint64 objectCount = bigEndian(trailer + 8, 8);
    const quint64 root = bigEndian(trailer + 16, 8);
    const quint64 tableOffset = bigEndian(trailer + 24, 8);
    const quint64 objectsEnd = size - trailerSize;
    if (offsetSize < 1 || offsetSize > 8 || refSize < 1 || refSize > 8 || objectCount == 0 || root >= objectCount
        || tableOffset < headerSize || tableOffset > objectsEnd
        || objectCount > (objectsEnd - tableOffset) / static_cast<quint64>(offsetSize))
        return false;

    struct Container {
        quint64 refs = 0; // where its references start
        quint64 count = 0;
    };
    // Reads an object's header; absent when it runs past the objects or the table.
    const auto container = [&](quint64 index) -> std::optional<std::optional<Container>> {
        const quint64 offset = bigEndian(data + tableOffset + index * static_cast<quint64>(offsetSize), offsetSize);
        if (offset < headerSize || offset >= tableOffset)
            return std::nullopt;
        const uchar marker = data[offset];
        const int type = marker >> 4;
        if (type != 0xA && type != 0xC && type != 0xD)
            return std::optional<Container>{};
        quint64 count = marker & 0x0F;
        quint64 at = offset + 1;
        if (count == 0x0F) {
            if (at >= tableOffset || (data[at] >> 4) != 0x1 || (data[at] & 0x0F) > 3)
                return std::nullopt;
            const int width = 1 << (data[at] & 0x0F);
            if (tableOffset - at - 1 < static_cast<quint64>(width))
                return std::nullopt;
            count = bigEndian(data + at + 1, width);
            at += 1 + static_cast<quint64>(width);
        }
        if (type == 0xD) {
            if (count > std::numeric_limits<quint64>::max() / 2)
                return std::nullopt;
            count *= 2;
        }
        if (count > (tableOffset - at) / static_cast<quint64>(refSize))
            return std::nullopt;
        return std::optional<Container>{Container{at, count}};
    };

    enum class State : uchar { unseen, open, done };
    std::vector<State> state(objectCount, State::unseen);
    std::vector<quint64> expanded(objectCount, 0);
    struct Frame {
        quint64 index;
        Container children;
        quint64 next = 0;
        quint64 nodes = 1;
    };
    std::vector<Frame> stack;
    const auto open = [&](quint64 index) {
        const auto header = container(index);
        if (!header)
            return false;
        state[index] = State::open;
        stack.push_back(Frame{index, header->value_or(Container{}), 0, 1});
        return stack.size() <= static_cast<size_t>(maxDepth);
    };
    if (!open(root))
        return false;
    while (!stack.empty()) {
        Frame& frame = stack.back();
        if (frame.next == frame.children.count) {
            state[frame.index] = State::done;
            expanded[frame.index] = frame.nodes;
            const quint64 nodes = frame.nodes;
            stack.pop_back();
            if (!stack.empty()) {
                stack.back().nodes += nodes;
                if (stack.back().nodes > maxExpandedNodes)
                    return false;
            }
            continue;
        }
        const quint64 child =
            bigEndian(data + frame.children.refs + frame.next * static_cast<quint64>(refSize), refSize);
        ++frame.next;
        if (child >= objectCount || state[child] == State::open)
            return false;
        if (state[child] == State::done) {
            frame.nodes += expanded[child];
            if (frame.nodes > maxExpandedNodes)
                return false;
            continue;
        }
        if (!open(child))
            return false;
    }
    return true;
}

} // namespace

bool isWithinLimits(const QByteArray& bytes)
{
    if (bytes.isEmpty() || bytes.size() > maxBytes)
        return false;
    if (bytes.startsWith("bplist00"))
        return binaryWithinLimits(bytes);
    return xmlWithinDepth(bytes);
}

Document parse(const QByteArray& bytes)
{
    plist_t root = nullptr;
    if (isWithinLimits(bytes))
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
