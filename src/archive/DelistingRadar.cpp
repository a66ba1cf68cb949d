#include "archive/DelistingRadar.h"

#include "common/AtomicFile.h"
#include "common/JsonRead.h"
#include "common/JsonWriter.h"
#include "common/ReferenceDate.h"
#include "process/Tools.h"

#include <QDir>

#include <algorithm>
#include <vector>

namespace {

const QLatin1String lastSeenKey("lastSeenInStore");
const QLatin1String goneKey("firstSeenGone");

// Absent when the key is missing; false when it holds anything but a usable date.
bool readDate(const QJsonObject& object, QLatin1String key, std::optional<QDateTime>& out)
{
    if (!object.contains(key))
        return true;
    const auto seconds = JsonRead::number(object, key);
    out = seconds ? ReferenceDate::fromSeconds(*seconds) : std::nullopt;
    return out.has_value();
}

} // namespace

DelistingRadar::DelistingRadar(QString path)
    : m_path(path.isEmpty() ? QDir(Tools::cacheDirectory()).filePath(QStringLiteral("radar.json")) : std::move(path))
{}

bool DelistingRadar::apply(Entries& entries, const Sighting& sighting, bool& changed)
{
    Entry& entry = entries[sighting.appID];
    if (sighting.inStore) {
        if (!entry.lastSeenInStore || sighting.at > *entry.lastSeenInStore) {
            entry.lastSeenInStore = sighting.at;
            changed = true;
        }
        // An answer older than the one that saw it gone does not bring it back.
        if (entry.firstSeenGone && sighting.at >= *entry.firstSeenGone) {
            entry.firstSeenGone.reset();
            changed = true;
        }
        return false;
    }
    if (entry.firstSeenGone || (entry.lastSeenInStore && sighting.at <= *entry.lastSeenInStore))
        return false;
    entry.firstSeenGone = sighting.at;
    changed = true;
    return entry.lastSeenInStore.has_value();
}

QList<qint64> DelistingRadar::observe(const QList<Sighting>& sightings)
{
    load();
    bool changed = false;
    QList<qint64> vanished;
    for (const Sighting& sighting : sightings) {
        if (sighting.at.isValid() && apply(m_entries, sighting, changed))
            vanished.append(sighting.appID);
    }
    if (changed)
        AtomicFile::write(m_path, encode(m_entries));
    return vanished;
}

std::optional<QDateTime> DelistingRadar::goneSince(qint64 appID) const
{
    load();
    const auto entry = m_entries.constFind(appID);
    if (entry == m_entries.cend() || !entry->lastSeenInStore)
        return std::nullopt;
    return entry->firstSeenGone;
}

const DelistingRadar::Entries& DelistingRadar::entries() const
{
    load();
    return m_entries;
}

void DelistingRadar::load() const
{
    if (m_loaded)
        return;
    m_loaded = true;
    if (const auto content = AtomicFile::read(m_path))
        m_entries = decode(*content);
}

QByteArray DelistingRadar::encode(const Entries& entries)
{
    std::vector<Entries::const_iterator> sorted;
    sorted.reserve(entries.size());
    for (auto it = entries.cbegin(); it != entries.cend(); ++it)
        sorted.push_back(it);
    std::sort(sorted.begin(), sorted.end(), [](const auto& a, const auto& b) { return a.key() < b.key(); });
    JsonWriter json(entries.size() * 64 + 2);
    json.beginObject();
    for (const auto& it : sorted) {
        json.key(QString::number(it.key()));
        json.beginObject();
        if (it->firstSeenGone)
            json.field(goneKey, ReferenceDate::toSeconds(*it->firstSeenGone));
        if (it->lastSeenInStore)
            json.field(lastSeenKey, ReferenceDate::toSeconds(*it->lastSeenInStore));
        json.endObject();
    }
    json.endObject();
    return json.take();
}

DelistingRadar::Entries DelistingRadar::decode(const QByteArray& json)
{
    Entries entries;
    const auto root = JsonRead::object(json);
    if (!root)
        return entries;
    entries.reserve(root->size());
    for (auto it = root->constBegin(); it != root->constEnd(); ++it) {
        bool isNumber = false;
        const qint64 id = it.key().toLongLong(&isNumber);
        if (!isNumber || id <= 0 || QString::number(id) != it.key() || !it.value().isObject())
            continue;
        const QJsonObject object = it.value().toObject();
        Entry entry;
        if (!readDate(object, lastSeenKey, entry.lastSeenInStore) || !readDate(object, goneKey, entry.firstSeenGone)
            || (!entry.lastSeenInStore && !entry.firstSeenGone))
            continue;
        entries.insert(id, entry);
    }
    return entries;
}
