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

QStringList OutputCollector::takeLines(QByteArray& pending)
{
    QStringList result;
    const char* data = pending.constData();
    const qsizetype size = pending.size();
    qsizetype start = 0;
    for (qsizetype i = 0; i < size; ++i) {
        const char c = data[i];
        if (c != '\n' && c != '\r')
            continue;
        if (i > start) {
            QString line = decodeTrimmed(data + start, i - start);
            if (!line.isEmpty())
                result.append(std::move(line));
        }
        start = i + 1;
    }
    if (start > 0)
        pending.remove(0, start);
    return result;
}

void OutputCollector::append(const QByteArray& bytes, Stream stream)
{
    if (bytes.isEmpty())
        return;
    QByteArray& total = stream == Stream::out ? m_out : m_err;
    QByteArray& pending = stream == Stream::out ? m_outPending : m_errPending;
    total.append(bytes);
    pending.append(bytes);
    // Only the new bytes can hold a separator; skipping the scan otherwise keeps one huge
    // unterminated line linear instead of quadratic.
    const auto size = size_t(bytes.size());
    if (std::memchr(bytes.constData(), '\n', size) || std::memchr(bytes.constData(), '\r', size))
        deliver(takeLines(pending));
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
    return ProcessOutput{status, QString::fromUtf8(m_out), QString::fromUtf8(m_err), m_lines};
}

void OutputCollector::deliver(const QStringList& newLines)
{
    m_lines.append(newLines);
    if (!m_onLine)
        return;
    for (const QString& line : newLines)
        m_onLine(line);
}
