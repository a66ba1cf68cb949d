#include "process/ProcessOutput.h"

#include <optional>

namespace {

QByteArray joined(const QList<QByteArray>& chunks)
{
    if (chunks.isEmpty())
        return {};
    if (chunks.size() == 1)
        return chunks.first();
    qsizetype size = 0;
    for (const QByteArray& chunk : chunks)
        size += chunk.size();
    QByteArray all;
    all.reserve(size);
    for (const QByteArray& chunk : chunks)
        all.append(chunk);
    return all;
}

} // namespace

struct ProcessOutput::Data {
    QList<QByteArray> out;
    QList<QByteArray> err;
    QList<LineSpan> spans;
    std::optional<QStringList> lines; // decoded on first request, shared by every copy
};

ProcessOutput::ProcessOutput(int exitStatus, QStringList lines, QList<QByteArray> outChunks,
                             QList<QByteArray> errChunks)
    : status(exitStatus)
    , m_data(std::make_shared<Data>(Data{std::move(outChunks), std::move(errChunks), {}, std::move(lines)}))
{}

ProcessOutput::ProcessOutput(int exitStatus, QList<QByteArray> outChunks, QList<QByteArray> errChunks,
                             QList<LineSpan> spans)
    : status(exitStatus)
    , m_data(std::make_shared<Data>(Data{std::move(outChunks), std::move(errChunks), std::move(spans), std::nullopt}))
{}

const QStringList& ProcessOutput::lines() const
{
    static const QStringList none;
    if (!m_data)
        return none;
    if (!m_data->lines) {
        const QByteArray out = joined(m_data->out);
        const QByteArray err = joined(m_data->err);
        QStringList lines;
        lines.reserve(m_data->spans.size());
        for (const LineSpan& span : std::as_const(m_data->spans)) {
            const QByteArray& stream = span.fromError ? err : out;
            lines.append(QString::fromUtf8(stream.constData() + span.begin, span.end - span.begin));
        }
        m_data->lines = std::move(lines);
    }
    return *m_data->lines;
}

// Joined before decoding, so a character split between two reads decodes whole.
QString ProcessOutput::standardOutput() const
{
    return m_data ? QString::fromUtf8(joined(m_data->out)) : QString();
}

QString ProcessOutput::standardError() const
{
    return m_data ? QString::fromUtf8(joined(m_data->err)) : QString();
}

QByteArray ProcessOutput::standardOutputBytes() const
{
    return m_data ? joined(m_data->out) : QByteArray();
}
