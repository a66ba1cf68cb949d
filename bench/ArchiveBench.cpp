// What keeps saved apps safe: the files view over 2,000 read files, reading 2,000 new ones off the
// interface thread, and the delisting radar taking in a lookup of 10,000 apps.
#include "archive/DelistingRadar.h"
#include "archive/IpaInspector.h"
#include "demo/IpaArchive.h"
#include "model/AppModel.h"
#include "process/Tools.h"
#include "support/AsyncTest.h"
#include "support/TempHome.h"

#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <unistd.h>

namespace {

// One real 5 MB archive, hard-linked under many names: every name is a file of its own to the
// inspector, without 10 GB on the disk.
QStringList makeFiles(int count, qint64 payload)
{
    QImage icon(180, 180, QImage::Format_ARGB32);
    icon.fill(Qt::darkCyan);
    QBuffer png;
    png.open(QIODevice::WriteOnly);
    icon.save(&png, "PNG");
    const QDir folder(Tools::downloadsDirectory());
    folder.mkpath(".");
    const QString first = folder.filePath("com.example.app0_1.0.ipa");
    QFile file(first);
    file.open(QIODevice::WriteOnly);
    file.write(IpaArchive::build({"com.example.app0", "Приложение", "1.0", "100", "15.0", 1000, png.data()}, payload));
    file.close();
    QStringList paths{first};
    for (int i = 1; i < count; ++i) {
        const QString path = folder.filePath(QString("com.example.app%1_1.0.ipa").arg(i));
        ::link(QFile::encodeName(first).constData(), QFile::encodeName(path).constData());
        paths.append(path);
    }
    return paths;
}

void CachedFilesView(benchmark::State& state)
{
    TempHome home;
    makeFiles(int(state.range(0)), 200'000);
    AppModel model;
    model.inspectFiles(model.localFiles());
    AsyncTest::waitUntil([&] { return model.ipaInfo(model.localFiles().constLast().path).has_value(); },
                         std::chrono::minutes(2));
    int known = 0;
    for (auto _ : state) {
        // What the view does on every visit: list, check every file is still what was read, draw from the cache.
        const QList<LocalIPA> files = model.localFiles();
        model.inspectFiles(files);
        known = 0;
        for (const LocalIPA& file : files)
            known += model.ipaInfo(file.path).has_value();
    }
    state.counters["files_with_info"] = known;
}
BENCHMARK(CachedFilesView)->Arg(2000)->Unit(benchmark::kMillisecond);

void ReadNewFiles(benchmark::State& state)
{
    TempHome home;
    const QStringList paths = makeFiles(int(state.range(0)), 5'000'000);
    qint64 longestStall = 0;
    for (auto _ : state) {
        IpaInspector inspector;
        // The interface thread's pulse: how long it ever went without turning its event loop.
        QElapsedTimer beat;
        QTimer pulse;
        pulse.setInterval(5);
        QObject::connect(&pulse, &QTimer::timeout, [&] { longestStall = std::max(longestStall, beat.restart()); });
        beat.start();
        pulse.start();
        inspector.request(paths);
        AsyncTest::waitUntil([&] { return !inspector.isReading(); }, std::chrono::minutes(2));
        benchmark::DoNotOptimize(inspector.info(paths.constLast()));
    }
    state.counters["longest_stall_ms"] = double(longestStall);
}
BENCHMARK(ReadNewFiles)->Arg(2000)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void RadarUpdate(benchmark::State& state)
{
    TempHome home;
    QList<DelistingRadar::Sighting> first;
    QList<DelistingRadar::Sighting> second;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (qint64 id = 1; id <= state.range(0); ++id) {
        first.append({id, true, now.addDays(-1)});
        second.append({id, id % 10 != 0, now}); // a tenth of the library leaves
    }
    qsizetype vanished = 0;
    for (auto _ : state) {
        state.PauseTiming();
        QFile::remove(QDir(Tools::cacheDirectory()).filePath("radar.json"));
        DelistingRadar(QString()).observe(first);
        DelistingRadar radar;
        state.ResumeTiming();
        vanished = radar.observe(second).size();
    }
    state.counters["vanished"] = double(vanished);
}
BENCHMARK(RadarUpdate)->Arg(10000)->Unit(benchmark::kMillisecond);

} // namespace
