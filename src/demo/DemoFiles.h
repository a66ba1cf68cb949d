#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

/// File and program helpers for the demo's throw-away folder; each answers a Russian reason on failure.
namespace DemoFiles {

/// A plain write: the throw-away folder needs no durability, and the temporary file and sync of an
/// atomic save were, for hundreds of archives, most of the demo's start.
std::optional<QString> write(const QString& path, const QByteArray& content);
/// Runs `program` to its end (at most two minutes), with no input.
std::optional<QString> run(const QString& program, const QStringList& arguments);

} // namespace DemoFiles
