// The model at library scale: searching 10,000 apps, a full history sync against the stand-in
// ipatool and a loopback lookup server, and the cost of watching for phones while nothing happens.

#include "model/AppModel.h"
#include "model/ModelTestSupport.h"
#include "store/PurchasesCache.h"
#include "support/AsyncTest.h"
#include "support/HttpServer.h"
#include "support/StandinTools.h"
#include "support/TempHome.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTimeZone>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <time.h>

#include <cstdio>

using namespace ModelTest;

namespace {

const QString email = "ivan@example.com";

double cpuSeconds(clockid_t clock)
{
    timespec now{};
    clock_gettime(clock, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

double childrenCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
           + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

QJsonObject signedInScenario(const QJsonArray& extraRules = {})
{
    return scenario(QJsonArray{signedInAs(email)} + extraRules, {{"signedIn", "yes"}, {"email", email}});
}

// ---- filteredApps ------------------------------------------------------------------------------

QList<PurchasedApp> library(int count)
{
    // Twenty title words, so a one-word search finds one app in twenty, as a real library might.
    const QStringList words{"Погода", "Карты",   "Заметки",     "Почта",   "Камера",  "Музыка", "Книги",
                            "Фото",   "Часы",    "Калькулятор", "Словарь", "Шахматы", "Радио",  "Такси",
                            "Банк",   "Новости", "Переводчик",  "Рецепты", "Фитнес",  "Сканер"};
    const QDateTime date(QDate(2015, 1, 1), QTime(12, 0), QTimeZone::utc());
    QList<PurchasedApp> apps;
    apps.reserve(count);
    for (int i = 0; i < count; ++i) {
        const QString n = QString::number(i);
        apps.append({100000000 + i, "com.example.app" + n, words[i % words.size()] + " Pro " + n, "1." + n,
                     i % 3 ? 0.0 : 2.99, date.addDays(i % 3000),
                     i % 5
                         ? std::optional<QUrl>(QUrl("https://is1-ssl.mzstatic.com/image/thumb/" + n + "/100x100bb.jpg"))
                         : std::nullopt,
                     "Seller " + n, true});
    }
    return apps;
}

void FilteredApps(benchmark::State& state)
{
    TempHome home;
    StandinTools tools(home.resourceDirectory(), {"ipatool"});
    tools.setScenario(signedInScenario());
    PurchasesCache::save(library(10000), email);

    AppModel model;
    AsyncTest::await(model.bootstrap());
    model.stopDeviceWatch();
    if (model.apps().size() != 10000) {
        state.SkipWithError("the cached history did not load");
        return;
    }
    const bool matching = state.range(0) != 0;
    model.setSearch(matching ? "карты" : "отсутствует");
    qsizetype found = 0;
    for (auto _ : state) {
        const QList<PurchasedApp> apps = model.filteredApps();
        found = apps.size();
        benchmark::DoNotOptimize(apps.constData());
    }
    state.SetLabel(matching ? "one word, 500 of 10,000 match" : "one word, nothing matches");
    state.counters["found"] = double(found);
}
BENCHMARK(FilteredApps)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

// ---- full sync ---------------------------------------------------------------------------------

HttpServer::Response lookupAnswer(const HttpServer::Request& request)
{
    QJsonArray results;
    for (const QString& id : request.query.queryItemValue("id").split(',')) {
        // Every seventh app is gone from the store.
        if (id.toLongLong() % 7 == 0)
            continue;
        results.append(QJsonObject{{"trackId", QJsonValue(id.toLongLong())},
                                   {"artworkUrl100", QString("https://example.com/" + id + ".png")},
                                   {"sellerName", "Разработчик"},
                                   {"fileSizeBytes", "123456789"}});
    }
    return HttpServer::Response::json(
        QJsonDocument(QJsonObject{{"resultCount", int(results.size())}, {"results", results}}).toJson());
}

// The stand-in's own share: the same ipatool command lines run again from here, one at a time.
double standinWallSeconds(const QString& program, const QList<QStringList>& calls)
{
    QElapsedTimer timer;
    timer.start();
    for (const QStringList& arguments : calls) {
        QProcess process;
        process.start(program, arguments);
        process.waitForFinished(-1);
    }
    return double(timer.nsecsElapsed()) / 1e9;
}

void FullSync(benchmark::State& state)
{
    constexpr int total = 9900;
    for (auto _ : state) {
        state.PauseTiming();
        auto home = std::make_unique<TempHome>();
        StandinTools tools(home->resourceDirectory(), {"ipatool"});
        tools.setScenario(signedInScenario(historyPages(total)));
        HttpServer lookup;
        QElapsedTimer handlerTimer;
        qint64 handlerNanoseconds = 0;
        lookup.setHandler("/lookup", [&](const HttpServer::Request& request) {
            handlerTimer.start();
            HttpServer::Response response = lookupAnswer(request);
            handlerNanoseconds += handlerTimer.nsecsElapsed();
            return response;
        });
        AppModel model(AppModel::Endpoints{lookup.url()});
        const double selfBefore = cpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
        const double childrenBefore = childrenCpuSeconds();
        QElapsedTimer wall;
        // The lookup phase begins when the model says it asks the store what is left.
        qint64 lookupStart = 0;
        QObject::connect(&model, &AppModel::syncStatusChanged, &model, [&] {
            if (model.syncStatus().startsWith("Уточняю"))
                lookupStart = wall.nsecsElapsed();
        });
        wall.start();
        state.ResumeTiming();

        AsyncTest::await(model.bootstrap(), std::chrono::minutes(10));

        state.PauseTiming();
        const double wallSeconds = double(wall.nsecsElapsed()) / 1e9;
        const double selfCpu = cpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - selfBefore;
        const double childrenCpu = childrenCpuSeconds() - childrenBefore;
        model.stopDeviceWatch();
        const qsizetype gone = std::count_if(model.apps().cbegin(), model.apps().cend(),
                                             [](const PurchasedApp& app) { return app.isGoneFromStore(); });
        if (model.apps().size() != total || gone == 0 || gone == total)
            state.SkipWithError("the sync did not bring every app with its lookup answer");

        const QList<QStringList> calls = tools.calls("ipatool");
        const double standin = standinWallSeconds(tools.path("ipatool"), calls);
        const double lookupServer = double(handlerNanoseconds) / 1e9;
        state.counters["ipatool_calls"] = double(calls.size());
        state.counters["lookup_requests"] = double(lookup.requests("/lookup").size());
        state.counters["wall_s"] = wallSeconds;
        state.counters["history_phase_s"] = double(lookupStart) / 1e9;
        state.counters["lookup_phase_s"] = wallSeconds - double(lookupStart) / 1e9;
        state.counters["standin_wall_s"] = standin;
        state.counters["standin_ms_per_call"] = standin * 1000 / double(calls.size());
        state.counters["lookup_server_s"] = lookupServer;
        state.counters["ours_wall_s"] = wallSeconds - standin - lookupServer;
        state.counters["self_cpu_s"] = selfCpu;
        state.counters["children_cpu_s"] = childrenCpu;
        state.ResumeTiming();
    }
    state.SetLabel("9,900 apps in 99 pages, lookup in batches of 50 on a loopback server");
}
BENCHMARK(FullSync)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// ---- device watch ------------------------------------------------------------------------------

QJsonObject exact(const QString& tool, const QStringList& args, const QJsonArray& steps)
{
    return {{"tool", tool}, {"args", QJsonArray::fromStringList(args)}, {"steps", steps}};
}

// One phone on a cable, seen by cfgutil and by idevice_id; no phone on Wi-Fi.
QJsonObject onePhone()
{
    const QString ecid = "0x970E80428AC26";
    const QString udid = "00008030-001A";
    const QJsonObject list{{"Command", "list"},
                           {"Output", QJsonObject{{ecid, QJsonObject{{"ECID", ecid}}}}},
                           {"Type", "CommandOutput"},
                           {"Devices", QJsonArray{ecid}}};
    const QJsonObject properties{{"name", "Телефон"}, {"deviceType", "iPhone14,2"}, {"firmwareVersion", "17.1"},
                                 {"UDID", udid},      {"isPaired", true},           {"activationState", "Activated"}};
    const QJsonObject get{{"Command", "get"},
                          {"Output", QJsonObject{{ecid, properties}, {"Errors", QJsonObject{}}}},
                          {"Type", "CommandOutput"},
                          {"Devices", QJsonArray{ecid}}};
    const QString apps = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\"><array>"
                         "<dict><key>CFBundleIdentifier</key><string>com.example.kept</string>"
                         "<key>CFBundleDisplayName</key><string>Сохранённое</string></dict></array></plist>";
    return scenario({exact("cfgutil", {"--format", "JSON", "list"}, {out(compact(list))}),
                     rule("cfgutil", "--ecid " + ecid + " get ", {out(compact(get))}),
                     exact("idevice_id", {}, {out(udid + " (USB)")}),
                     exact("ideviceinfo", {"-u", udid},
                           {out("DeviceName: Телефон"), out("ProductType: iPhone14,2"), out("ProductVersion: 17.1")}),
                     exact("ideviceinstaller", {"--help"}, {out("  -l, --list-apps\tList apps")}),
                     rule("ideviceinstaller", "-l -o xml$", {out(apps)})});
}

const QStringList watchTools{"cfgutil", "idevice_id", "ideviceinfo", "ideviceinstaller"};

qsizetype callCount(const StandinTools& tools)
{
    qsizetype count = 0;
    for (const QString& tool : watchTools)
        count += tools.calls(tool).size();
    return count;
}

// One phone, already known and its apps read, so every pass finds nothing new.
struct IdlePhone {
    TempHome home;
    StandinTools tools{home.resourceDirectory()};
    AppModel model;
    bool settled = false;

    IdlePhone()
    {
        tools.setScenario(onePhone());
        AsyncTest::await(model.refreshDevices());
        settled = model.devices().size() == 1 && AsyncTest::waitUntil([&] {
                      return !model.loadingInstalledApps() && !model.installedApps().isEmpty();
                  });
    }
};

void IdleWatchPass(benchmark::State& state)
{
    IdlePhone phone;
    if (!phone.settled) {
        state.SkipWithError("the phone was not found");
        return;
    }
    StandinTools& tools = phone.tools;
    AppModel& model = phone.model;
    double threadCpu = 0;
    double processCpu = 0;
    qsizetype children = 0;
    for (auto _ : state) {
        const qsizetype callsBefore = callCount(tools);
        const double threadBefore = cpuSeconds(CLOCK_THREAD_CPUTIME_ID);
        const double processBefore = cpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
        AsyncTest::await(model.refreshDevices());
        threadCpu += cpuSeconds(CLOCK_THREAD_CPUTIME_ID) - threadBefore;
        processCpu += cpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - processBefore;
        children += callCount(tools) - callsBefore;
    }
    const double passes = double(state.iterations());
    state.counters["children_per_pass"] = double(children) / passes;
    state.counters["ui_thread_cpu_ms_per_pass"] = threadCpu * 1000 / passes;
    state.counters["process_cpu_ms_per_pass"] = processCpu * 1000 / passes;
    state.SetLabel("one phone on cfgutil and idevice_id, nothing changes");
}
BENCHMARK(IdleWatchPass)->Iterations(20)->Unit(benchmark::kMillisecond)->UseRealTime();

int idleSeconds()
{
    bool ok = false;
    const int seconds = qEnvironmentVariableIntValue("QUORREL_BENCH_IDLE_SECONDS", &ok);
    return ok && seconds > 0 ? seconds : 15;
}

void IdleWatchShare(benchmark::State& state)
{
    IdlePhone phone;
    if (!phone.settled) {
        state.SkipWithError("the phone was not found");
        return;
    }
    StandinTools& tools = phone.tools;
    AppModel& model = phone.model;
    const int seconds = idleSeconds();
    for (auto _ : state) {
        const qsizetype callsBefore = callCount(tools);
        const double cpuBefore = cpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
        const double childrenBefore = childrenCpuSeconds();
        QElapsedTimer wall;
        wall.start();
        model.startDeviceWatch();
        QEventLoop loop;
        QTimer::singleShot(std::chrono::seconds(seconds), Qt::PreciseTimer, &loop, &QEventLoop::quit);
        loop.exec();
        model.stopDeviceWatch();
        const double wallSeconds = double(wall.nsecsElapsed()) / 1e9;
        state.counters["own_cpu_percent"] = 100 * (cpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - cpuBefore) / wallSeconds;
        state.counters["children_cpu_percent"] = 100 * (childrenCpuSeconds() - childrenBefore) / wallSeconds;
        state.counters["children_started"] = double(callCount(tools) - callsBefore);
        state.counters["seconds"] = wallSeconds;
    }
    AsyncTest::waitUntil([&] { return !model.hasDeviceWatchLoop(); });
    state.SetLabel(QStringLiteral("watching one idle phone for %1 s (QUORREL_BENCH_IDLE_SECONDS to change)")
                       .arg(seconds)
                       .toStdString());
}
BENCHMARK(IdleWatchShare)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
