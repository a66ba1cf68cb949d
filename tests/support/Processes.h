#pragma once

#include <QByteArray>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QString>

namespace Processes {

/// Whether any process still runs the program at `path`, as it was started (a symlink's own path
/// tells a test's tool apart from the same program run by others).
inline bool isRunning(const QString& path)
{
    QDirIterator processes("/proc", QDir::Dirs | QDir::NoDotAndDotDot);
    while (processes.hasNext()) {
        QFile cmdline(processes.next() + "/cmdline");
        if (cmdline.open(QIODevice::ReadOnly)
            && cmdline.readAll().startsWith(QByteArray(path.toLocal8Bit()).append('\0')))
            return true;
    }
    return false;
}

} // namespace Processes
