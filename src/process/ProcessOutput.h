#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <memory>

/// The result of one tool run. The runner never judges `status`; each client does.
/// The output is kept as read and decoded on request: most callers look at a few lines, and a
/// huge output would otherwise be held two or three times over.
struct ProcessOutput {
    int status = 0;

    ProcessOutput() = default;
    /// For callers that already hold the parts (tests, other runners).
    ProcessOutput(int exitStatus, QStringList lines, QList<QByteArray> outChunks, QList<QByteArray> errChunks);

    /// Non-empty trimmed lines of both streams, in the order they were cut.
    const QStringList& lines() const;
    /// Whole streams, decoded as UTF-8 with U+FFFD for bad bytes, untrimmed.
    QString standardOutput() const;
    QString standardError() const;
    /// The raw bytes, for callers that parse them (JSON, property lists) rather than read them.
    QByteArray standardOutputBytes() const;

    /// Where one line lies in its stream, trimmed, as byte offsets.
    struct LineSpan {
        bool fromError = false;
        qsizetype begin = 0;
        qsizetype end = 0;
    };
    ProcessOutput(int exitStatus, QList<QByteArray> outChunks, QList<QByteArray> errChunks, QList<LineSpan> spans);

private:
    struct Data;
    std::shared_ptr<Data> m_data;
};
