#pragma once

#include <QByteArray>
#include <QString>

/// Writes small but well-formed .ipa files (zip archives with a Payload app bundle) for the demo,
/// so what a demo download leaves on disk opens like the real thing.
namespace IpaArchive {

/// Entries are stored uncompressed; `payloadBytes` of noise stand in for the app's executable.
QByteArray build(const QString& bundleID, const QString& name, const QString& version, qint64 payloadBytes);

} // namespace IpaArchive
