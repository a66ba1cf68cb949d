// The downloads folder listing, and what download and install progress cost the interface thread.
#include "model/AppModel.h"
#include "model/ModelTestSupport.h"
#include "process/Tools.h"
#include "support/AsyncTest.h"
#include "support/StandinTools.h"
#include "support/TempHome.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <benchmark/benchmark.h>

#include <ctime>

using namespace ModelTest;

namespace {

double ownCpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

void LocalFiles(benchmark::State& state)
{
    TempHome home;
    const QDir folder(Tools::downloadsDirectory());
    for (int i = 0; i < state.range(0); ++i) {
        QFile file(folder.filePath(QString("com.example.app%1_1.%2.ipa").arg(i).arg(i % 7)));
        file.open(QIODevice::WriteOnly);
        file.write("PK");
    }
    AppModel model;
    for (auto _ : state)
        benchmark::DoNotOptimize(model.localFiles());
    state.counters["files"] = double(model.localFiles().size());
}
BENCHMARK(LocalFiles)->Arg(2000)->Unit(benchmark::kMillisecond);

// Busy share = the process's own CPU time (children excluded) over the wall time of the operation.
void DownloadProgressCost(benchmark::State& state)
{
    TempHome home;
    StandinTools tools(home.resourceDirectory(), {"ipatool"});
    tools.setScenario(scenario(
        {rule("ipatool", "download -i ",
              {QJsonObject{{"write", "{opt:-o}"}, {"bytes", 30 * 1024 * 1024}, {"chunks", 30}, {"interval", 100}},
               out(ipatoolLine({{"output", "{json:opt:-o}"}, {"success", true}}))})}));
    AppModel model;
    int reports = 0;
    QObject::connect(&model, &AppModel::activitiesChanged, [&] { ++reports; });
    for (auto _ : state) {
        QFile::remove(AppModel::fileURL({1, "com.example.big", "Big", true}, std::nullopt));
        const double cpu = ownCpuSeconds();
        QElapsedTimer wall;
        wall.start();
        AsyncTest::await(model.download(AppModel::Target{1, "com.example.big", "Big", true}, std::nullopt));
        state.counters["busy_percent"] = 100.0 * (ownCpuSeconds() - cpu) / (double(wall.nsecsElapsed()) / 1e9);
    }
    state.counters["reports"] = reports;
}
BENCHMARK(DownloadProgressCost)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void InstallProgressCost(benchmark::State& state)
{
    TempHome home;
    StandinTools tools(home.resourceDirectory());
    const QJsonObject progress{{"repeat", 1000},
                               {"steps", QJsonArray{QJsonObject{{"out", "Installing app: 0.{i}%"}, {"end", "\r"}},
                                                    QJsonObject{{"sleep", 2}}}}};
    tools.setScenario(
        scenario(phoneRules() + installerRules() + QJsonArray{rule("cfgutil", "--progress install-app ", {progress})}));
    tools.setState("cable", "yes");
    AppModel model;
    AsyncTest::await(model.refreshDevices());
    AsyncTest::waitUntil([&] { return !model.loadingInstalledApps(); });
    const QString ipa = home.filePath("app.ipa");
    QFile(ipa).open(QIODevice::WriteOnly);
    int reports = 0;
    for (auto _ : state) {
        const double cpu = ownCpuSeconds();
        QElapsedTimer wall;
        wall.start();
        AsyncTest::await(model.installLocalFile(ipa));
        state.counters["busy_percent"] = 100.0 * (ownCpuSeconds() - cpu) / (double(wall.nsecsElapsed()) / 1e9);
    }
    const AppModel::Target target{2, "com.example.installed", "Installed", true};
    QFile(AppModel::fileURL(target, std::nullopt)).open(QIODevice::WriteOnly);
    QObject::connect(&model, &AppModel::activitiesChanged, [&] { ++reports; });
    const double cpu = ownCpuSeconds();
    QElapsedTimer wall;
    wall.start();
    AsyncTest::await(model.installOnDevice(target, std::nullopt));
    state.counters["row_busy_percent"] = 100.0 * (ownCpuSeconds() - cpu) / (double(wall.nsecsElapsed()) / 1e9);
    state.counters["row_reports"] = reports;
}
BENCHMARK(InstallProgressCost)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
