#pragma once

#include <QString>
#include <QStringList>

/// The result of one tool run. The runner never judges `status`; each client does.
struct ProcessOutput {
    int status = 0;
    QString standardOutput; // whole stream, decoded as UTF-8 with U+FFFD for bad bytes, untrimmed
    QString standardError;
    QStringList lines;      // non-empty trimmed lines of both streams, in the order they were cut
};
