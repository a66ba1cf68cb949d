#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

/// Whole-file reads and writes for the stored files. A write goes to a temporary file that then
/// takes the old file's place, so a reader never sees half a file and a failed write keeps the old one.
namespace AtomicFile {

/// Creates the parent folder when missing; returns whether the new content is in place.
bool write(const QString& path, const QByteArray& content);

/// Absent when the file is missing, unreadable or larger than `maxBytes`.
std::optional<QByteArray> read(const QString& path, qint64 maxBytes = qint64(256) * 1024 * 1024);

/// Returns whether no file is left at `path`.
bool remove(const QString& path);

} // namespace AtomicFile
