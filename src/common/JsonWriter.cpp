#include "common/JsonWriter.h"

#include <QLocale>

#include <charconv>
#include <cmath>
#include <utility>

namespace {

// The longest a UTF-16 unit can grow is "\u001f"; a surrogate pair takes four bytes for two.
constexpr qsizetype maxBytesPerUnit = 6;

char hexDigit(unsigned value)
{
    return "0123456789abcdef"[value & 0xf];
}

char* putEscape(char* out, char16_t c)
{
    *out++ = '\\';
    *out++ = 'u';
    for (int shift = 12; shift >= 0; shift -= 4)
        *out++ = hexDigit(c >> shift);
    return out;
}

// Writes one ASCII character, escaped when JSON requires it; returns the new end.
char* putAscii(char* out, char16_t c)
{
    if (c >= 0x20 && c != u'"' && c != u'\\') {
        *out++ = char(c);
        return out;
    }
    *out++ = '\\';
    switch (c) {
    case u'"':
        *out++ = '"';
        break;
    case u'\\':
        *out++ = '\\';
        break;
    case u'\b':
        *out++ = 'b';
        break;
    case u'\f':
        *out++ = 'f';
        break;
    case u'\n':
        *out++ = 'n';
        break;
    case u'\r':
        *out++ = 'r';
        break;
    case u'\t':
        *out++ = 't';
        break;
    default:
        return putEscape(out - 1, c);
    }
    return out;
}

char* putCodePoint(char* out, char32_t point)
{
    if (point < 0x800) {
        *out++ = char(0xc0 | (point >> 6));
    } else if (point < 0x10000) {
        *out++ = char(0xe0 | (point >> 12));
        *out++ = char(0x80 | ((point >> 6) & 0x3f));
    } else {
        *out++ = char(0xf0 | (point >> 18));
        *out++ = char(0x80 | ((point >> 12) & 0x3f));
        *out++ = char(0x80 | ((point >> 6) & 0x3f));
    }
    *out++ = char(0x80 | (point & 0x3f));
    return out;
}

} // namespace

JsonWriter::JsonWriter(qsizetype expectedBytes)
{
    m_out.reserve(expectedBytes);
}

void JsonWriter::beginObject()
{
    open('{');
}

void JsonWriter::endObject()
{
    close('}');
}

void JsonWriter::beginArray()
{
    open('[');
}

void JsonWriter::endArray()
{
    close(']');
}

void JsonWriter::key(QLatin1String name)
{
    separate();
    string(name);
    m_out.append(':');
    m_needsComma = false;
}

void JsonWriter::key(QStringView name)
{
    separate();
    string(name);
    m_out.append(':');
    m_needsComma = false;
}

void JsonWriter::value(QStringView text)
{
    separate();
    string(text);
    m_needsComma = true;
}

void JsonWriter::value(QLatin1String text)
{
    separate();
    string(text);
    m_needsComma = true;
}

void JsonWriter::value(qint64 number)
{
    separate();
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, number).ptr;
    m_out.append(digits, end - digits);
    m_needsComma = true;
}

void JsonWriter::value(double number)
{
    if (!std::isfinite(number)) {
        null();
        return;
    }
    separate();
    m_out.append(QByteArray::number(number, 'g', QLocale::FloatingPointShortest));
    m_needsComma = true;
}

void JsonWriter::value(bool flag)
{
    separate();
    m_out.append(flag ? QByteArrayView("true") : QByteArrayView("false"));
    m_needsComma = true;
}

void JsonWriter::null()
{
    separate();
    m_out.append(QByteArrayView("null"));
    m_needsComma = true;
}

QByteArray JsonWriter::take()
{
    m_needsComma = false;
    return std::exchange(m_out, {});
}

void JsonWriter::separate()
{
    if (m_needsComma)
        m_out.append(',');
}

void JsonWriter::open(char bracket)
{
    separate();
    m_out.append(bracket);
    m_needsComma = false;
}

void JsonWriter::close(char bracket)
{
    m_out.append(bracket);
    m_needsComma = true;
}

void JsonWriter::string(QStringView text)
{
    const qsizetype start = m_out.size();
    m_out.resize(start + 2 + text.size() * maxBytesPerUnit);
    char* out = m_out.data() + start;
    *out++ = '"';
    const char16_t* it = text.utf16();
    const char16_t* const end = it + text.size();
    while (it != end) {
        const char16_t c = *it++;
        if (c < 0x80) {
            out = putAscii(out, c);
        } else if (QChar::isHighSurrogate(c) && it != end && QChar::isLowSurrogate(*it)) {
            out = putCodePoint(out, QChar::surrogateToUcs4(c, *it++));
        } else if (c == 0xfeff) {
            // Qt's reader drops a raw byte-order mark at the start of a string.
            out = putEscape(out, c);
        } else if (QChar::isSurrogate(c)) {
            // A lone half cannot be UTF-8; escaped, it reads back as itself.
            out = putEscape(out, c);
        } else {
            out = putCodePoint(out, c);
        }
    }
    *out++ = '"';
    m_out.truncate(out - m_out.constData());
}

void JsonWriter::string(QLatin1String text)
{
    const qsizetype start = m_out.size();
    m_out.resize(start + 2 + text.size() * maxBytesPerUnit);
    char* out = m_out.data() + start;
    *out++ = '"';
    for (const char byte : text) {
        const auto c = static_cast<unsigned char>(byte);
        out = c < 0x80 ? putAscii(out, c) : putCodePoint(out, c);
    }
    *out++ = '"';
    m_out.truncate(out - m_out.constData());
}
