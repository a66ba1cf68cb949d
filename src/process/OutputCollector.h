#pragma once

#include "process/ProcessOutput.h"

#include <QByteArray>
#include <QString>
#include <QStringDecoder>

#include <functional>

/// Cuts a child's two output streams into lines as bytes arrive; a carriage return ends a line
/// just like a line feed, so self-redrawing progress output yields one line per redraw.
/// Lines are decoded only for `onLine`; the result keeps where they lie and decodes on request.
class OutputCollector {
public:
    enum class Stream { out, err };
    using LineHandler = std::function<void(const QString&)>;

    explicit OutputCollector(LineHandler onLine = {});

    void append(const QByteArray& bytes, Stream stream);
    /// Turns what is left unterminated in both streams into final lines, standard output first.
    void flush();
    ProcessOutput result(int status) const;

private:
    struct StreamState {
        QList<QByteArray> chunks; // kept as read: growing one buffer costs more than the output itself
        qsizetype size = 0;
        QByteArray pending; // the bytes of the line not yet ended
    };

    void addLine(bool fromError, qsizetype begin, const char* data, qsizetype length);

    StreamState m_out;
    StreamState m_err;
    QList<ProcessOutput::LineSpan> m_spans;
    LineHandler m_onLine;
    QString m_line;
    // As QString::fromUtf8: a byte-order mark at a line's start stays.
    QStringDecoder m_decoder{QStringDecoder::Utf8,
                             QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom};
};
