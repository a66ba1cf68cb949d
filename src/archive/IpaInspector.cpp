#include "archive/IpaInspector.h"

#include "common/PlistRead.h"

#include <QCoroFuture>
#include <QFile>
#include <QFileInfo>
#include <QtConcurrent/QtConcurrentRun>

#include <archive.h>
#include <archive_entry.h>
#include <plist/plist.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <limits>
#include <memory>

namespace {

using Archive = std::unique_ptr<archive, decltype(&archive_read_free)>;
using Plist = std::unique_ptr<void, decltype(&plist_free)>;

constexpr int entryLimit = 500000;
constexpr int batchSize = 16;
constexpr int iconSideLimit = 4096;
constexpr int iconSide = 180;

Archive openZip(const QString& path)
{
    Archive zip(archive_read_new(), &archive_read_free);
    if (!zip)
        return zip;
    // The central directory: every name without reading the data in between.
    archive_read_support_format_zip_seekable(zip.get());
    if (archive_read_open_filename(zip.get(), QFile::encodeName(path).constData(), 64 * 1024) != ARCHIVE_OK)
        zip.reset();
    return zip;
}

QString entryName(archive_entry* entry)
{
    if (const char* utf8 = archive_entry_pathname_utf8(entry))
        return QString::fromUtf8(utf8);
    const char* raw = archive_entry_pathname(entry);
    return raw ? QString::fromLocal8Bit(raw) : QString();
}

std::optional<QByteArray> readData(archive* zip, archive_entry* entry, qint64 limit)
{
    if (archive_entry_size_is_set(entry) && archive_entry_size(entry) > limit)
        return std::nullopt;
    QByteArray data;
    std::array<char, 64 * 1024> buffer;
    for (;;) {
        const la_ssize_t read = archive_read_data(zip, buffer.data(), buffer.size());
        if (read < 0)
            return std::nullopt;
        if (read == 0)
            return data;
        if (data.size() + read > limit)
            return std::nullopt;
        data.append(buffer.data(), read);
    }
}

// "Payload/Name.app/file" split in three, or nothing for any other shape of name.
std::optional<std::pair<QString, QString>> appEntry(const QString& name)
{
    const QStringList parts = name.split(QLatin1Char('/'));
    if (parts.size() != 3 || parts[0] != QLatin1String("Payload") || !parts[1].endsWith(QLatin1String(".app"))
        || parts[1].size() <= 4 || parts[2].isEmpty())
        return std::nullopt;
    return std::pair{parts[1], parts[2]};
}

Plist parsePlist(const QByteArray& bytes)
{
    plist_t root = nullptr;
    if (PlistRead::isWithinLimits(bytes))
        plist_from_memory(bytes.constData(), static_cast<uint32_t>(bytes.size()), &root);
    if (root && plist_get_node_type(root) != PLIST_DICT) {
        plist_free(root);
        root = nullptr;
    }
    return Plist(root, &plist_free);
}

std::optional<QString> text(plist_t node)
{
    if (!node || plist_get_node_type(node) != PLIST_STRING)
        return std::nullopt;
    uint64_t length = 0;
    const char* value = plist_get_string_ptr(node, &length);
    if (!value)
        return std::nullopt;
    QString result = QString::fromUtf8(value, static_cast<qsizetype>(length)).trimmed();
    return result.isEmpty() ? std::nullopt : std::optional<QString>(result);
}

std::optional<QString> textAt(plist_t dictionary, const char* key)
{
    return dictionary ? text(plist_dict_get_item(dictionary, key)) : std::nullopt;
}

std::optional<qint64> appIDAt(plist_t dictionary, const char* key)
{
    const plist_t node = dictionary ? plist_dict_get_item(dictionary, key) : nullptr;
    if (node && plist_get_node_type(node) == PLIST_UINT) {
        uint64_t value = 0;
        plist_get_uint_val(node, &value);
        return value > 0 && value < uint64_t(std::numeric_limits<qint64>::max()) ? std::optional<qint64>(qint64(value))
                                                                                 : std::nullopt;
    }
    if (const auto digits = text(node)) {
        bool ok = false;
        const qint64 value = digits->toLongLong(&ok);
        if (ok && value > 0)
            return value;
    }
    return std::nullopt;
}

void appendIconNames(plist_t node, QStringList& names)
{
    if (!node)
        return;
    if (const auto name = text(node)) {
        names.append(*name);
        return;
    }
    if (plist_get_node_type(node) != PLIST_ARRAY)
        return;
    for (uint32_t i = 0; i < plist_array_get_size(node); ++i) {
        if (const auto name = text(plist_array_get_item(node, i)))
            names.append(*name);
    }
}

// The names the bundle gives its icon files, without ".png"; the asset catalogue's name too.
QStringList iconNames(plist_t info)
{
    QStringList names;
    if (!info)
        return names;
    for (const char* group : {"CFBundleIcons", "CFBundleIcons~ipad"}) {
        const plist_t icons = plist_dict_get_item(info, group);
        const plist_t primary = icons && plist_get_node_type(icons) == PLIST_DICT
                                    ? plist_dict_get_item(icons, "CFBundlePrimaryIcon")
                                    : nullptr;
        if (primary && plist_get_node_type(primary) == PLIST_DICT) {
            appendIconNames(plist_dict_get_item(primary, "CFBundleIconFiles"), names);
            appendIconNames(plist_dict_get_item(primary, "CFBundleIconName"), names);
        }
    }
    appendIconNames(plist_dict_get_item(info, "CFBundleIconFiles"), names);
    appendIconNames(plist_dict_get_item(info, "CFBundleIconFile"), names);
    for (QString& name : names) {
        if (name.endsWith(QLatin1String(".png"), Qt::CaseInsensitive))
            name.chop(4);
    }
    names.removeAll(QString());
    return names;
}

struct IconFile {
    QString app;
    QString name;
    qint64 size = 0;
};

std::optional<QString> pickIcon(const QList<IconFile>& files, const QString& app, const QStringList& names)
{
    const auto largest = [&](const auto& fits) -> std::optional<QString> {
        const IconFile* best = nullptr;
        for (const IconFile& file : files) {
            if (file.app == app && fits(file.name) && (!best || file.size > best->size))
                best = &file;
        }
        return best ? std::optional<QString>(QStringLiteral("Payload/") + app + QLatin1Char('/') + best->name)
                    : std::nullopt;
    };
    if (auto named = largest([&](const QString& file) {
            return std::any_of(names.cbegin(), names.cend(),
                               [&](const QString& name) { return file.startsWith(name); });
        }))
        return named;
    return largest([](const QString& file) { return file.startsWith(QLatin1String("AppIcon")); });
}

std::optional<QByteArray> readOne(const QString& path, const QString& wanted, qint64 limit)
{
    const Archive zip = openZip(path);
    if (!zip)
        return std::nullopt;
    archive_entry* entry = nullptr;
    for (int count = 0; count < entryLimit && archive_read_next_header(zip.get(), &entry) == ARCHIVE_OK; ++count) {
        if (entryName(entry) == wanted)
            return readData(zip.get(), entry, limit);
    }
    return std::nullopt;
}

quint32 bigEndian(const uchar* bytes)
{
    return (quint32(bytes[0]) << 24) | (quint32(bytes[1]) << 16) | (quint32(bytes[2]) << 8) | quint32(bytes[3]);
}

// CgBI keeps IDAT as bare deflate, without zlib's wrapping; libarchive's gzip reader inflates it
// once it has a gzip header in front (it does not check the trailer).
std::optional<QByteArray> inflateBare(const QByteArray& deflated, qint64 expected)
{
    QByteArray wrapped("\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\x03", 10);
    wrapped.append(deflated);
    wrapped.append(8, '\0');
    const Archive raw(archive_read_new(), &archive_read_free);
    archive_read_support_filter_gzip(raw.get());
    archive_read_support_format_raw(raw.get());
    archive_entry* entry = nullptr;
    if (archive_read_open_memory(raw.get(), wrapped.constData(), size_t(wrapped.size())) != ARCHIVE_OK
        || archive_read_next_header(raw.get(), &entry) != ARCHIVE_OK)
        return std::nullopt;
    QByteArray data(expected, Qt::Uninitialized);
    qint64 filled = 0;
    while (filled < expected) {
        const la_ssize_t read = archive_read_data(raw.get(), data.data() + filled, size_t(expected - filled));
        if (read <= 0)
            return std::nullopt;
        filled += read;
    }
    return data;
}

int paeth(int left, int up, int upLeft)
{
    const int estimate = left + up - upLeft;
    const int toLeft = std::abs(estimate - left);
    const int toUp = std::abs(estimate - up);
    const int toUpLeft = std::abs(estimate - upLeft);
    if (toLeft <= toUp && toLeft <= toUpLeft)
        return left;
    return toUp <= toUpLeft ? up : upLeft;
}

// Apple's PNG variant: a CgBI chunk first, bare deflate, pixels as premultiplied BGRA — which is
// the byte order of ARGB32_Premultiplied on a little-endian machine.
QImage decodeCgBI(const QByteArray& png)
{
    const auto* bytes = reinterpret_cast<const uchar*>(png.constData());
    qsizetype at = 8;
    quint32 width = 0;
    quint32 height = 0;
    QByteArray deflated;
    while (at + 12 <= png.size()) {
        const quint32 length = bigEndian(bytes + at);
        if (length > quint32(png.size() - at - 12))
            return {};
        const QByteArray type = png.mid(at + 4, 4);
        const uchar* data = bytes + at + 8;
        if (type == "IHDR") {
            // 8-bit RGBA, not interlaced, is all iOS writes.
            if (length != 13 || data[8] != 8 || data[9] != 6 || data[12] != 0)
                return {};
            width = bigEndian(data);
            height = bigEndian(data + 4);
        } else if (type == "IDAT") {
            deflated.append(reinterpret_cast<const char*>(data), length);
        } else if (type == "IEND") {
            break;
        }
        at += 12 + qsizetype(length);
    }
    if (width == 0 || height == 0 || width > iconSideLimit || height > iconSideLimit)
        return {};
    const qsizetype stride = qsizetype(width) * 4;
    const auto raw = inflateBare(deflated, (stride + 1) * height);
    if (!raw)
        return {};
    QImage image(int(width), int(height), QImage::Format_ARGB32_Premultiplied);
    if (image.isNull())
        return {};
    const auto* in = reinterpret_cast<const uchar*>(raw->constData());
    for (quint32 y = 0; y < height; ++y) {
        const uchar filter = *in++;
        uchar* row = image.scanLine(int(y));
        const uchar* up = y > 0 ? image.constScanLine(int(y) - 1) : nullptr;
        for (qsizetype x = 0; x < stride; ++x) {
            const int left = x >= 4 ? row[x - 4] : 0;
            const int above = up ? up[x] : 0;
            const int upLeft = up && x >= 4 ? up[x - 4] : 0;
            int predicted = 0;
            switch (filter) {
            case 0:
                break;
            case 1:
                predicted = left;
                break;
            case 2:
                predicted = above;
                break;
            case 3:
                predicted = (left + above) / 2;
                break;
            case 4:
                predicted = paeth(left, above, upLeft);
                break;
            default:
                return {};
            }
            row[x] = uchar(in[x] + predicted);
        }
        in += stride;
    }
    // Premultiplied data whose colour exceeds its alpha is not a real image; clamp rather than overflow.
    for (int y = 0; y < image.height(); ++y) {
        auto* pixel = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const int alpha = qAlpha(pixel[x]);
            pixel[x] = qRgba(std::min(qRed(pixel[x]), alpha), std::min(qGreen(pixel[x]), alpha),
                             std::min(qBlue(pixel[x]), alpha), alpha);
        }
    }
    return image.convertToFormat(QImage::Format_ARGB32);
}

} // namespace

QImage IpaInspector::decodeIcon(const QByteArray& png)
{
    static const QByteArray signature("\x89PNG\r\n\x1a\n", 8);
    if (!png.startsWith(signature))
        return {};
    if (png.mid(12, 4) == "CgBI")
        return decodeCgBI(png);
    QImage image;
    if (!image.loadFromData(png, "PNG") || image.width() > iconSideLimit || image.height() > iconSideLimit)
        return {};
    return image;
}

int IpaInspector::compareVersions(const QString& a, const QString& b)
{
    const QStringList left = a.trimmed().split(QLatin1Char('.'));
    const QStringList right = b.trimmed().split(QLatin1Char('.'));
    for (qsizetype i = 0; i < std::max(left.size(), right.size()); ++i) {
        const auto number = [](const QStringList& parts, qsizetype index) {
            if (index >= parts.size())
                return 0LL;
            qsizetype digits = 0;
            while (digits < parts[index].size() && digits < 9 && parts[index].at(digits).isDigit())
                ++digits;
            return parts[index].left(digits).toLongLong();
        };
        const long long x = number(left, i);
        const long long y = number(right, i);
        if (x != y)
            return x < y ? -1 : 1;
    }
    return 0;
}

IpaInfo IpaInspector::inspect(const QString& path)
{
    IpaInfo info;
    const Archive zip = openZip(path);
    if (!zip)
        return info;
    std::optional<QByteArray> infoPlist;
    std::optional<QByteArray> metadata;
    QString app;
    QList<IconFile> pngs;
    archive_entry* entry = nullptr;
    for (int count = 0; count < entryLimit && archive_read_next_header(zip.get(), &entry) == ARCHIVE_OK; ++count) {
        const QString name = entryName(entry);
        if (name == QLatin1String("iTunesMetadata.plist")) {
            if (!metadata)
                metadata = readData(zip.get(), entry, plistLimit);
            continue;
        }
        const auto inApp = appEntry(name);
        if (!inApp)
            continue;
        if (inApp->second == QLatin1String("Info.plist") && app.isEmpty()) {
            app = inApp->first;
            infoPlist = readData(zip.get(), entry, plistLimit);
        } else if (inApp->second.endsWith(QLatin1String(".png"), Qt::CaseInsensitive)) {
            pngs.append({inApp->first, inApp->second, archive_entry_size(entry)});
        }
    }

    const Plist bundle = parsePlist(infoPlist.value_or(QByteArray()));
    const Plist store = parsePlist(metadata.value_or(QByteArray()));
    const plist_t plist = bundle.get();
    const plist_t meta = store.get();
    info.bundleID = textAt(plist, "CFBundleIdentifier");
    if (!info.bundleID)
        info.bundleID = textAt(meta, "softwareVersionBundleId");
    info.shortVersion = textAt(plist, "CFBundleShortVersionString");
    if (!info.shortVersion)
        info.shortVersion = textAt(meta, "bundleShortVersionString");
    info.build = textAt(plist, "CFBundleVersion");
    info.minimumOS = textAt(plist, "MinimumOSVersion");
    info.displayName = textAt(plist, "CFBundleDisplayName");
    if (!info.displayName)
        info.displayName = textAt(plist, "CFBundleName");
    if (!info.displayName)
        info.displayName = textAt(meta, "itemName");
    info.appID = appIDAt(meta, "itemId");

    if (app.isEmpty() && !pngs.isEmpty())
        app = pngs.constFirst().app;
    if (const auto icon = pickIcon(pngs, app, iconNames(plist))) {
        if (const auto png = readOne(path, *icon, iconLimit))
            info.icon = decodeIcon(*png);
        // Rows draw it at 40 points; a 1024-pixel original would only cost memory and scaling.
        if (info.icon.width() > iconSide || info.icon.height() > iconSide)
            info.icon = info.icon.scaled(iconSide, iconSide, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    }
    return info;
}

QList<IpaInfo> IpaInspector::inspectAll(const QStringList& paths)
{
    QList<IpaInfo> infos;
    infos.reserve(paths.size());
    for (const QString& path : paths)
        infos.append(inspect(path));
    return infos;
}

IpaInspector::Stamp IpaInspector::stampOf(const QString& path)
{
    const QFileInfo file(path);
    if (!file.isFile())
        return {};
    return {file.size(), file.lastModified()};
}

std::optional<IpaInfo> IpaInspector::info(const QString& path) const
{
    const auto known = m_known.constFind(path);
    if (known == m_known.cend())
        return std::nullopt;
    return known->info;
}

QImage IpaInspector::icon(const QString& bundleID) const
{
    const auto path = m_iconPaths.constFind(bundleID);
    if (path == m_iconPaths.cend())
        return {};
    return m_known.value(*path).info.icon;
}

void IpaInspector::store(const QString& path, const Stamp& stamp, IpaInfo info)
{
    if (!info.icon.isNull() && info.bundleID)
        m_iconPaths.insert(*info.bundleID, path);
    m_known.insert(path, Known{stamp, std::move(info)});
}

void IpaInspector::request(const QStringList& paths)
{
    for (const QString& path : paths) {
        const Stamp stamp = stampOf(path);
        if (stamp.size < 0)
            continue;
        const auto known = m_known.constFind(path);
        if ((known != m_known.cend() && known->stamp == stamp) || m_queued.value(path) == stamp)
            continue;
        m_queued.insert(path, stamp);
        m_pending.append({path, stamp});
    }
    if (!m_reading && !m_pending.isEmpty())
        readPending(QPointer<IpaInspector>(this));
}

QCoro::Task<IpaInfo> IpaInspector::read(QString path)
{
    const Stamp stamp = stampOf(path);
    if (const auto known = m_known.constFind(path); known != m_known.cend() && known->stamp == stamp)
        co_return known->info;
    const QPointer<IpaInspector> self(this);
    // The future is made in a statement of its own: GCC 12 mishandles temporaries inside co_await.
    QFuture<IpaInfo> reading = QtConcurrent::run(&IpaInspector::inspect, path);
    IpaInfo info = co_await reading;
    if (self && stamp.size >= 0)
        self->store(path, stamp, info);
    co_return info;
}

QCoro::Task<> IpaInspector::readPending(QPointer<IpaInspector> self)
{
    self->m_reading = true;
    while (self && !self->m_pending.isEmpty()) {
        const QList<Pending> batch = self->m_pending.mid(0, batchSize);
        self->m_pending.remove(0, batch.size());
        QStringList paths;
        for (const Pending& file : batch)
            paths.append(file.path);
        QFuture<QList<IpaInfo>> reading = QtConcurrent::run(&inspectAll, paths);
        const QList<IpaInfo> infos = co_await reading;
        if (!self)
            co_return;
        for (qsizetype i = 0; i < batch.size(); ++i) {
            self->m_queued.remove(batch[i].path);
            self->store(batch[i].path, batch[i].stamp, infos[i]);
        }
        Q_EMIT self->changed();
    }
    if (self)
        self->m_reading = false;
}
