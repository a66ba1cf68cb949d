#include "demo/IpaArchive.h"

#include <QList>
#include <QtEndian>

#include <algorithm>
#include <array>
#include <cstring>

namespace IpaArchive {
namespace {

quint32 crc32(const QByteArray& data)
{
    static const std::array<quint32, 256> table = [] {
        std::array<quint32, 256> values{};
        for (quint32 n = 0; n < 256; ++n) {
            quint32 c = n;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320U ^ (c >> 1) : c >> 1;
            values[n] = c;
        }
        return values;
    }();
    quint32 crc = 0xFFFFFFFFU;
    for (const char byte : data)
        crc = table[(crc ^ static_cast<quint8>(byte)) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFU;
}

void put16(QByteArray& out, quint32 value)
{
    char bytes[2];
    qToLittleEndian(static_cast<quint16>(value), bytes);
    out.append(bytes, 2);
}

void put32(QByteArray& out, quint32 value)
{
    char bytes[4];
    qToLittleEndian(value, bytes);
    out.append(bytes, 4);
}

QByteArray xmlEscaped(const QString& text)
{
    return text.toHtmlEscaped().toUtf8();
}

QByteArray plistString(const char* key, const QString& value)
{
    return QByteArray("<key>") + key + "</key><string>" + xmlEscaped(value) + "</string>";
}

QByteArray infoPlist(const Bundle& bundle)
{
    QByteArray keys = plistString("CFBundleIdentifier", bundle.bundleID)
                      + plistString("CFBundleDisplayName", bundle.name)
                      + plistString("CFBundleShortVersionString", bundle.version)
                      + plistString("CFBundleExecutable", QStringLiteral("App"));
    if (!bundle.build.isEmpty())
        keys += plistString("CFBundleVersion", bundle.build);
    if (!bundle.minimumOS.isEmpty())
        keys += plistString("MinimumOSVersion", bundle.minimumOS);
    if (!bundle.iconPng.isEmpty())
        keys += "<key>CFBundleIcons</key><dict><key>CFBundlePrimaryIcon</key><dict><key>CFBundleIconFiles</key>"
                "<array><string>AppIcon60x60</string></array></dict></dict>";
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
           "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
           "<plist version=\"1.0\"><dict>"
           + keys + "</dict></plist>\n";
}

QByteArray metadataPlist(const Bundle& bundle)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict><key>itemId</key><integer>"
           + QByteArray::number(bundle.appID) + "</integer>" + plistString("itemName", bundle.name)
           + plistString("softwareVersionBundleId", bundle.bundleID) + "</dict></plist>\n";
}

QByteArray noise(qint64 size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    quint32 state = 0x9E3779B9U;
    // Four bytes a step: hundreds of demo archives are made before the window shows.
    for (qsizetype at = 0; at < size; at += 4) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        std::memcpy(bytes.data() + at, &state, size_t(std::min<qsizetype>(4, size - at)));
    }
    return bytes;
}

} // namespace

QByteArray build(const QString& bundleID, const QString& name, const QString& version, qint64 payloadBytes)
{
    return build(Bundle{bundleID, name, version, {}, {}, 0, {}}, payloadBytes);
}

QByteArray build(const Bundle& bundle, qint64 payloadBytes)
{
    const QByteArray folder = "Payload/App.app/";
    QList<std::pair<QByteArray, QByteArray>> entries{{folder + "Info.plist", infoPlist(bundle)}};
    if (!bundle.iconPng.isEmpty())
        entries.append({folder + "AppIcon60x60@2x.png", bundle.iconPng});
    entries.append({folder + "App", noise(payloadBytes)});
    if (bundle.appID > 0)
        entries.append({"iTunesMetadata.plist", metadataPlist(bundle)});
    return zip(entries);
}

QByteArray zip(const QList<std::pair<QByteArray, QByteArray>>& entries)
{
    QByteArray archive;
    QByteArray directory;
    for (const auto& [path, content] : entries) {
        const quint32 offset = static_cast<quint32>(archive.size());
        const quint32 crc = crc32(content);
        const auto size = static_cast<quint32>(content.size());
        // Local header: version 2.0, no flags, stored, a fixed 2020-01-01 00:00 time stamp.
        put32(archive, 0x04034b50);
        put16(archive, 20);
        put16(archive, 0);
        put16(archive, 0);
        put16(archive, 0);
        put16(archive, (40 << 9) | (1 << 5) | 1);
        put32(archive, crc);
        put32(archive, size);
        put32(archive, size);
        put16(archive, static_cast<quint32>(path.size()));
        put16(archive, 0);
        archive += path;
        archive += content;

        put32(directory, 0x02014b50);
        put16(directory, 20);
        put16(directory, 20);
        put16(directory, 0);
        put16(directory, 0);
        put16(directory, 0);
        put16(directory, (40 << 9) | (1 << 5) | 1);
        put32(directory, crc);
        put32(directory, size);
        put32(directory, size);
        put16(directory, static_cast<quint32>(path.size()));
        put16(directory, 0);
        put16(directory, 0);
        put16(directory, 0);
        put16(directory, 0);
        put32(directory, 0);
        put32(directory, offset);
        directory += path;
    }
    const quint32 directoryOffset = static_cast<quint32>(archive.size());
    archive += directory;
    put32(archive, 0x06054b50);
    put16(archive, 0);
    put16(archive, 0);
    put16(archive, static_cast<quint32>(entries.size()));
    put16(archive, static_cast<quint32>(entries.size()));
    put32(archive, static_cast<quint32>(directory.size()));
    put32(archive, directoryOffset);
    put16(archive, 0);
    return archive;
}

} // namespace IpaArchive
