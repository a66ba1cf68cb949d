#include "process/OutputCollector.h"

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\v' || c == '\f';
}

const char* findSeparator(const char* from, const char* end)
{
    for (const char* at = from; at < end; ++at) {
        if (*at == '\n' || *at == '\r')
            return at;
    }
    return nullptr;
}

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
    if (m_onLine)
        m_onLine(QString::fromUtf8(data + first, last - first));
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
    const char* separator = findSeparator(data, end);
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
    while (lineStart < end && (separator = findSeparator(lineStart, end))) {
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
