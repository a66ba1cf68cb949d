#include "device/KnownAppsStore.h"

#include "common/AtomicFile.h"
#include "common/JsonWriter.h"
#include "common/ReferenceDate.h"
#include "device/NameOrder.h"
#include "process/Tools.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>

namespace {

// Far beyond any real store; a larger file is taken for damage and not read into memory.
constexpr qint64 readLimit = 64 * 1024 * 1024;

} // namespace

KnownAppsStore::KnownAppsStore(QString path)
    : m_path(path.isEmpty() ? QDir(Tools::cacheDirectory()).filePath(QStringLiteral("known-apps.json"))
                            : std::move(path))
{}

QList<KnownApp> KnownAppsStore::all()
{
    load();
    QList<KnownApp> apps = m_items.values();
    NameOrder::sort(apps);
    return apps;
}

void KnownAppsStore::merge(const QList<KnownApp>& apps)
{
    load();
    for (const KnownApp& app : apps) {
        const auto stored = m_items.constFind(app.adamID);
        if (stored == m_items.cend() || stored->name != app.name)
            m_items.insert(app.adamID, app);
    }
    save();
}

void KnownAppsStore::load()
{
    if (m_loaded)
        return;
    m_loaded = true;
    const std::optional<QByteArray> content = AtomicFile::read(m_path, readLimit);
    if (!content)
        return;
    // A file edited by hand may repeat an App ID; the last record wins.
    for (const KnownApp& app : decode(*content))
        m_items.insert(app.adamID, app);
}

void KnownAppsStore::save() const
{
    // A failed write is not reported: the map keeps the records and the next merge writes them.
    AtomicFile::write(m_path, encode(m_items.values()));
}

QList<KnownApp> KnownAppsStore::decode(const QByteArray& json)
{
    QList<KnownApp> apps;
    const QJsonDocument document = QJsonDocument::fromJson(json);
    if (!document.isArray())
        return apps;
    // One damaged record costs only itself: dropping the whole file would let the next merge
    // overwrite every App ID learned so far.
    for (const QJsonValue& value : document.array()) {
        if (std::optional<KnownApp> app = KnownApp::fromJson(value))
            apps.append(std::move(*app));
    }
    return apps;
}

QByteArray KnownAppsStore::encode(const QList<KnownApp>& apps)
{
    JsonWriter json(apps.size() * 160 + 2);
    json.beginArray();
    for (const KnownApp& app : apps) {
        json.beginObject();
        json.field(QLatin1String("adamID"), app.adamID);
        json.field(QLatin1String("bundleID"), app.bundleID);
        json.field(QLatin1String("name"), app.name);
        json.field(QLatin1String("seenAt"), ReferenceDate::toSeconds(app.seenAt));
        json.field(QLatin1String("source"), app.source);
        json.endObject();
    }
    json.endArray();
    return json.take();
}
