#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <utility>

/// Writes small but well-formed .ipa files (zip archives with a Payload app bundle) for the demo,
/// so what a demo download leaves on disk opens like the real thing.
namespace IpaArchive {

/// What the bundle's Info.plist and iTunesMetadata.plist say; empty texts and a zero App ID are left out.
struct Bundle {
    QString bundleID;
    QString name;
    QString version;
    QString build;
    QString minimumOS;
    qint64 appID = 0;
    QByteArray iconPng; // stored as the app's AppIcon60x60@2x.png when given
};

/// Entries are stored uncompressed; `payloadBytes` of noise stand in for the app's executable.
QByteArray build(const QString& bundleID, const QString& name, const QString& version, qint64 payloadBytes);
QByteArray build(const Bundle& bundle, qint64 payloadBytes);
/// A zip of these entries as named, stored uncompressed.
QByteArray zip(const QList<std::pair<QByteArray, QByteArray>>& entries);

} // namespace IpaArchive
