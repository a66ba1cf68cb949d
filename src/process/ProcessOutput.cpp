#include "process/ProcessOutput.h"

namespace {

QByteArray joined(const std::shared_ptr<const QList<QByteArray>>& chunks)
{
    if (!chunks || chunks->isEmpty())
        return {};
    if (chunks->size() == 1)
        return chunks->first();
    qsizetype size = 0;
    for (const QByteArray& chunk : *chunks)
        size += chunk.size();
    QByteArray all;
    all.reserve(size);
    for (const QByteArray& chunk : *chunks)
        all.append(chunk);
    return all;
}

} // namespace

ProcessOutput::ProcessOutput(int exitStatus, QStringList outputLines, QList<QByteArray> outChunks, QList<QByteArray> errChunks)
    : status(exitStatus)
    , lines(std::move(outputLines))
    , m_outChunks(std::make_shared<const QList<QByteArray>>(std::move(outChunks)))
    , m_errChunks(std::make_shared<const QList<QByteArray>>(std::move(errChunks)))
{
}

// Joined before decoding, so a character split between two reads decodes whole.
QString ProcessOutput::standardOutput() const { return QString::fromUtf8(joined(m_outChunks)); }

QString ProcessOutput::standardError() const { return QString::fromUtf8(joined(m_errChunks)); }

QByteArray ProcessOutput::standardOutputBytes() const { return joined(m_outChunks); }
