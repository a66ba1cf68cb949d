#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <memory>

/// The result of one tool run. The runner never judges `status`; each client does.
struct ProcessOutput {
    int status = 0;
    QStringList lines; // non-empty trimmed lines of both streams, in the order they were cut

    ProcessOutput() = default;
    ProcessOutput(int exitStatus, QStringList outputLines, QList<QByteArray> outChunks, QList<QByteArray> errChunks);

    /// Whole streams, decoded as UTF-8 with U+FFFD for bad bytes, untrimmed. Decoded on request:
    /// most callers read only the lines, and a huge output would otherwise be held twice.
    QString standardOutput() const;
    QString standardError() const;
    /// The raw bytes, for callers that parse them (JSON, property lists) rather than read them.
    QByteArray standardOutputBytes() const;

private:
    std::shared_ptr<const QList<QByteArray>> m_outChunks;
    std::shared_ptr<const QList<QByteArray>> m_errChunks;
};
