#include "process/OutputCollector.h"

#include <cstring>

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\v' || c == '\f';
}

// The next line end of a chunk. Most output has no carriage return at all, so each kind is searched
// with memchr and the next carriage return is remembered rather than looked for at every line.
class Separators {
public:
    Separators(const char* data, const char* end)
        : m_end(end)
        , m_return(find(data, '\r'))
    {}

    const char* next(const char* from)
    {
        if (m_return && m_return < from)
            m_return = find(from, '\r');
        const char* feed = find(from, '\n');
        if (!m_return)
            return feed;
        return feed && feed < m_return ? feed : m_return;
    }

private:
    const char* find(const char* from, char c) const
    {
        return from < m_end ? static_cast<const char*>(std::memchr(from, c, static_cast<size_t>(m_end - from)))
                            : nullptr;
    }

    const char* m_end;
    const char* m_return;
};

} // namespace

OutputCollector::OutputCollector(LineHandler onLine)
    : m_onLine(std::move(onLine))
{}

void OutputCollector::addLine(bool fromError, qsizetype begin, const char* data, qsizetype length)
{
    // Blanks are plain ASCII, so the line is trimmed in bytes before anything is decoded.
    qsizetype first = 0;
    while (first < length && isBlank(data[first]))
        ++first;
    qsizetype last = length;
    while (last > first && isBlank(data[last - 1]))
        --last;
    if (first == last)
        return;
    m_spans.append({fromError, begin + first, begin + last});
    if (!m_onLine)
        return;
    // One buffer serves every line: a handler that only looks at the line costs no allocation, and
    // one that keeps it shares it, so the next line detaches.
    m_line.resize(last - first);
    const QChar* end = m_decoder.appendToBuffer(m_line.data(), QByteArrayView(data + first, last - first));
    m_line.truncate(end - m_line.constData());
    m_onLine(m_line);
}

void OutputCollector::append(const QByteArray& bytes, Stream stream)
{
    if (bytes.isEmpty())
        return;
    StreamState& state = stream == Stream::out ? m_out : m_err;
    const bool fromError = stream == Stream::err;
    const qsizetype base = state.size;
    state.chunks.append(bytes);
    state.size += bytes.size();

    const char* data = bytes.constData();
    const char* end = data + bytes.size();
    Separators separators(data, end);
    const char* separator = separators.next(data);
    if (!separator) {
        state.pending.append(bytes);
        return;
    }
    // The line begun in earlier chunks is the only one that needs copying.
    const qsizetype pendingBegin = base - state.pending.size();
    state.pending.append(data, separator - data);
    addLine(fromError, pendingBegin, state.pending.constData(), state.pending.size());
    state.pending.clear();

    const char* lineStart = separator + 1;
    while (lineStart < end && (separator = separators.next(lineStart))) {
        addLine(fromError, base + (lineStart - data), lineStart, separator - lineStart);
        lineStart = separator + 1;
    }
    state.pending = QByteArray(lineStart, end - lineStart);
}

void OutputCollector::flush()
{
    for (StreamState* state : {&m_out, &m_err}) {
        if (state->pending.isEmpty())
            continue;
        addLine(state == &m_err, state->size - state->pending.size(), state->pending.constData(),
                state->pending.size());
        state->pending.clear();
    }
}

ProcessOutput OutputCollector::result(int status) const
{
    return ProcessOutput(status, m_out.chunks, m_err.chunks, m_spans);
}
