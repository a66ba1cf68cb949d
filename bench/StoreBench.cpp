#include "process/Tools.h"
#include "store/ArtworkService.h"
#include "store/PurchasesCache.h"

#include "common/AtomicFile.h"

#include <QTemporaryDir>
#include <QTimeZone>

#include <benchmark/benchmark.h>

namespace {

constexpr int appCount = 10000;

QList<PurchasedApp> history()
{
    QList<PurchasedApp> apps;
    const QDateTime date(QDate(2015, 1, 1), QTime(12, 0), QTimeZone::utc());
    for (int i = 0; i < appCount; ++i) {
        const QString n = QString::number(i);
        apps.append({100000000 + i, QStringLiteral("com.example.app") + n, QStringLiteral("Приложение ") + n,
                     QStringLiteral("1.") + n, i % 3 ? 0.0 : 2.99, date.addDays(i % 3000),
                     i % 5 ? std::optional<QUrl>(QUrl(QStringLiteral("https://is1-ssl.mzstatic.com/image/thumb/") + n
                                                      + QStringLiteral("/100x100bb.jpg")))
                           : std::nullopt,
                     QStringLiteral("Seller ") + n, true});
    }
    return apps;
}

ArtworkService::Cache lookupCache()
{
    ArtworkService::Cache cache;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (int i = 0; i < appCount; ++i) {
        const QString n = QString::number(i);
        cache.insert(100000000 + i, {QStringLiteral("https://is1-ssl.mzstatic.com/image/thumb/") + n
                                         + QStringLiteral("/100x100bb.jpg"),
                                     QStringLiteral("Seller ") + n, qint64(1000000) * i, now});
    }
    return cache;
}

// Never the user's own support folder.
struct ScratchSupport {
    QTemporaryDir dir;
    ScratchSupport() { Tools::setSupportDirectory(dir.path()); }
    ~ScratchSupport() { Tools::setSupportDirectory(std::nullopt); }
};

void PurchasesCacheSave(benchmark::State& state)
{
    ScratchSupport support;
    const QList<PurchasedApp> apps = history();
    for (auto _ : state)
        PurchasesCache::save(apps, QStringLiteral("ivan@example.com"));
}
BENCHMARK(PurchasesCacheSave)->Unit(benchmark::kMillisecond);

void PurchasesCacheLoad(benchmark::State& state)
{
    ScratchSupport support;
    PurchasesCache::save(history(), QStringLiteral("ivan@example.com"));
    for (auto _ : state) {
        auto payload = PurchasesCache::load(QStringLiteral("ivan@example.com"));
        if (!payload || payload->apps.size() != appCount)
            state.SkipWithError("the cache did not load");
        benchmark::DoNotOptimize(payload);
    }
}
BENCHMARK(PurchasesCacheLoad)->Unit(benchmark::kMillisecond);

void ArtworkCacheLoadAndSave(benchmark::State& state)
{
    ScratchSupport support;
    const QString path = support.dir.filePath(QStringLiteral("artwork.json"));
    AtomicFile::write(path, ArtworkService::encode(lookupCache()));
    for (auto _ : state) {
        const auto cache = ArtworkService::decode(AtomicFile::read(path).value_or(QByteArray()));
        if (!cache || cache->size() != appCount)
            state.SkipWithError("the cache did not load");
        AtomicFile::write(path, ArtworkService::encode(*cache));
    }
}
BENCHMARK(ArtworkCacheLoadAndSave)->Unit(benchmark::kMillisecond);

} // namespace
