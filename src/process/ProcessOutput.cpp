#include "process/ProcessOutput.h"

#include <QStringDecoder>

namespace {

QString decode(const std::shared_ptr<const QList<QByteArray>>& chunks)
{
    if (!chunks)
        return {};
    // A stateful decoder: a character split across two reads must survive.
    QStringDecoder decoder(QStringDecoder::Utf8);
    QString text;
    for (const QByteArray& chunk : *chunks)
        text += decoder.decode(chunk);
    return text;
}

} // namespace

ProcessOutput::ProcessOutput(int exitStatus, QStringList outputLines, QList<QByteArray> outChunks, QList<QByteArray> errChunks)
    : status(exitStatus)
    , lines(std::move(outputLines))
    , m_outChunks(std::make_shared<const QList<QByteArray>>(std::move(outChunks)))
    , m_errChunks(std::make_shared<const QList<QByteArray>>(std::move(errChunks)))
{
}

QString ProcessOutput::standardOutput() const { return decode(m_outChunks); }

QString ProcessOutput::standardError() const { return decode(m_errChunks); }

QByteArray ProcessOutput::standardOutputBytes() const
{
    if (!m_outChunks)
        return {};
    if (m_outChunks->size() == 1)
        return m_outChunks->first();
    qsizetype size = 0;
    for (const QByteArray& chunk : *m_outChunks)
        size += chunk.size();
    QByteArray all;
    all.reserve(size);
    for (const QByteArray& chunk : *m_outChunks)
        all.append(chunk);
    return all;
}
