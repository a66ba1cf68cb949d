#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QUrl>

#include <optional>

/// The newest published build, as the update manifest describes it.
struct UpdateInfo {
    QString version; // shown only; `build` alone decides what is newer
    qint64 build = 0;
    QString notes;
    std::optional<QDateTime> date;
    QUrl url;
    QString sha256;    // lower case
    QString signature; // base64 Ed25519 signature of the archive; empty when the manifest has none
    qint64 size = 0;
    std::optional<QUrl> pageURL;

    /// `size` as the desktop writes file sizes, in Russian.
    QString sizeText() const;

    friend bool operator==(const UpdateInfo&, const UpdateInfo&) = default;

    /// The record of a manifest body; absent when the body is not a JSON object or a required key
    /// ("version", "build", "url", "sha256") is missing or unusable. Optional keys of the wrong
    /// type count as missing.
    static std::optional<UpdateInfo> fromManifest(const QByteArray& body);
    /// An internet date-time: date, "T", time with seconds, then "Z" or a numeric offset.
    static std::optional<QDateTime> parseDate(const QString& text);
};
