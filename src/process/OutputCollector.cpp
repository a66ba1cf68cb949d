#include "process/OutputCollector.h"

#include <cstring>

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; }

// Trims in bytes before decoding: cheaper than decoding first, and blanks are plain ASCII.
QString decodeTrimmed(const char* data, qsizetype size)
{
    qsizetype begin = 0;
    while (begin < size && isBlank(data[begin]))
        ++begin;
    while (size > begin && isBlank(data[size - 1]))
        --size;
    return QString::fromUtf8(data + begin, size - begin);
}

} // namespace

OutputCollector::OutputCollector(LineHandler onLine)
    : m_onLine(std::move(onLine))
{
}

namespace {

bool isSeparator(char c) { return c == '\n' || c == '\r'; }

// Appends the complete lines of data[from, to) to `into`; returns where the unterminated rest begins.
qsizetype scanLines(const char* data, qsizetype from, qsizetype to, QStringList& into)
{
    qsizetype start = from;
    for (qsizetype i = from; i < to; ++i) {
        if (!isSeparator(data[i]))
            continue;
        if (i > start) {
            QString line = decodeTrimmed(data + start, i - start);
            if (!line.isEmpty())
                into.append(std::move(line));
        }
        start = i + 1;
    }
    return start;
}

qsizetype firstSeparator(const QByteArray& bytes)
{
    const auto* data = bytes.constData();
    const auto* lf = static_cast<const char*>(std::memchr(data, '\n', size_t(bytes.size())));
    const auto* cr = static_cast<const char*>(std::memchr(data, '\r', size_t(lf ? lf - data : bytes.size())));
    const char* first = cr ? cr : lf;
    return first ? first - data : -1;
}

} // namespace

QStringList OutputCollector::takeLines(QByteArray& pending)
{
    QStringList result;
    const qsizetype rest = scanLines(pending.constData(), 0, pending.size(), result);
    if (rest > 0)
        pending.remove(0, rest);
    return result;
}

void OutputCollector::cutLines(QByteArray& pending, const QByteArray& bytes, QStringList& into)
{
    // The chunk is scanned where it lies; only a line begun in an earlier chunk is copied, and
    // only the unterminated tail is kept. Scanning only new bytes keeps one huge line linear.
    const qsizetype separator = firstSeparator(bytes);
    if (separator < 0) {
        pending.append(bytes);
        return;
    }
    qsizetype from = 0;
    if (!pending.isEmpty()) {
        pending.append(bytes.constData(), separator + 1);
        into.append(takeLines(pending));
        from = separator + 1;
    }
    const qsizetype rest = scanLines(bytes.constData(), from, bytes.size(), into);
    pending = bytes.mid(rest);
}

void OutputCollector::append(const QByteArray& bytes, Stream stream)
{
    if (bytes.isEmpty())
        return;
    (stream == Stream::out ? m_out : m_err).append(bytes);
    QStringList newLines;
    cutLines(stream == Stream::out ? m_outPending : m_errPending, bytes, newLines);
    deliver(newLines);
}

void OutputCollector::flush()
{
    QStringList finalLines;
    for (QByteArray* pending : {&m_outPending, &m_errPending}) {
        const QString line = QString::fromUtf8(*pending).trimmed();
        if (!line.isEmpty())
            finalLines.append(line);
        pending->clear();
    }
    deliver(finalLines);
}

ProcessOutput OutputCollector::result(int status) const
{
    return ProcessOutput(status, m_lines, m_out, m_err);
}

void OutputCollector::deliver(const QStringList& newLines)
{
    m_lines.append(newLines);
    if (!m_onLine)
        return;
    for (const QString& line : newLines)
        m_onLine(line);
}
