#pragma once

#include "process/ProcessOutput.h"

#include <QByteArray>

#include <functional>

/// Cuts a child's two output streams into lines as bytes arrive; a carriage return ends a line
/// just like a line feed, so self-redrawing progress output yields one line per redraw.
class OutputCollector {
public:
    enum class Stream { out, err };
    using LineHandler = std::function<void(const QString&)>;

    explicit OutputCollector(LineHandler onLine = {});

    void append(const QByteArray& bytes, Stream stream);
    /// Turns what is left unterminated in both streams into final lines, standard output first.
    void flush();
    ProcessOutput result(int status) const;

    /// Removes every complete line from `pending` and returns the non-empty ones, trimmed.
    static QStringList takeLines(QByteArray& pending);

private:
    void deliver(const QStringList& newLines);
    static void cutLines(QByteArray& pending, const QByteArray& bytes, QStringList& into);

    QList<QByteArray> m_out; // kept as read: growing one buffer costs more than the output itself
    QList<QByteArray> m_err;
    QByteArray m_outPending;
    QByteArray m_errPending;
    QStringList m_lines;
    LineHandler m_onLine;
};
