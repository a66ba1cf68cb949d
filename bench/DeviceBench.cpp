// The phone side: reading a phone's app list, where the old ideviceinstaller prints every key of
// every app with its store metadata as an embedded binary property list (target: 2,000 apps well
// under 200 ms), and watching one known phone while nothing changes, with Debian's real idevice_id
// against the loopback phone (target: the app and its children under 1 % of one core together).
#include "device/DeviceAppsReader.h"
#include "device/NameOrder.h"
#include "model/AppModel.h"
#include "process/ProcessRunner.h"
#include "support/AsyncTest.h"
#include "support/LoopbackPhone.h"
#include "support/TempHome.h"

#include <QByteArray>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QString>
#include <QTimer>

#include <plist/plist.h>

#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <cstdlib>

namespace {

// Serialises `root` with `write` (plist_to_bin or plist_to_xml) and frees it.
template <typename Writer>
QByteArray consumed(plist_t root, Writer write)
{
    char* bytes = nullptr;
    uint32_t length = 0;
    write(root, &bytes, &length);
    const QByteArray result(bytes, static_cast<qsizetype>(length));
    std::free(bytes);
    plist_free(root);
    return result;
}

plist_t strings(std::initializer_list<const char*> values)
{
    plist_t array = plist_new_array();
    for (const char* value : values)
        plist_array_append_item(array, plist_new_string(value));
    return array;
}

QByteArray metadata(int index)
{
    const QByteArray name = "Приложение " + QByteArray::number(index);
    const QByteArray bundle = "com.vendor" + QByteArray::number(index % 97) + ".app" + QByteArray::number(index);
    plist_t dict = plist_new_dict();
    plist_dict_set_item(dict, "itemId", plist_new_uint(300000000 + static_cast<uint64_t>(index)));
    plist_dict_set_item(dict, "itemName", plist_new_string(name.constData()));
    plist_dict_set_item(dict, "bundleDisplayName", plist_new_string(name.constData()));
    plist_dict_set_item(dict, "artistName", plist_new_string("Vendor Studio LLC"));
    plist_dict_set_item(dict, "artistId", plist_new_uint(284882218));
    plist_dict_set_item(dict, "softwareVersionBundleId", plist_new_string(bundle.constData()));
    plist_dict_set_item(dict, "bundleShortVersionString", plist_new_string("4.12.1"));
    plist_dict_set_item(dict, "bundleVersion", plist_new_string("4121"));
    plist_dict_set_item(dict, "genre", plist_new_string("Productivity"));
    plist_dict_set_item(dict, "genreId", plist_new_uint(6007));
    plist_dict_set_item(dict, "kind", plist_new_string("software"));
    plist_dict_set_item(dict, "releaseDate", plist_new_string("2014-09-17T07:00:00Z"));
    plist_dict_set_item(dict, "softwareVersionExternalIdentifier", plist_new_uint(845123456));
    plist_t versions = plist_new_array();
    for (uint64_t v = 0; v < 40; ++v)
        plist_array_append_item(versions, plist_new_uint(810000000 + v * 1137));
    plist_dict_set_item(dict, "softwareVersionExternalIdentifiers", versions);
    plist_t rating = plist_new_dict();
    plist_dict_set_item(rating, "content", plist_new_string("4+"));
    plist_dict_set_item(rating, "label", plist_new_string("4+"));
    plist_dict_set_item(rating, "rank", plist_new_uint(100));
    plist_dict_set_item(rating, "system", plist_new_string("itunes-games"));
    plist_dict_set_item(dict, "rating", rating);
    plist_t account = plist_new_dict();
    plist_dict_set_item(account, "AppleID", plist_new_string("someone@example.com"));
    plist_dict_set_item(account, "DSPersonID", plist_new_uint(1234567890));
    plist_dict_set_item(account, "FirstName", plist_new_string("Анна"));
    plist_dict_set_item(account, "LastName", plist_new_string("Петрова"));
    plist_t download = plist_new_dict();
    plist_dict_set_item(download, "accountInfo", account);
    plist_dict_set_item(download, "purchaseDate", plist_new_string("2015-02-01T10:11:12Z"));
    plist_dict_set_item(dict, "com.apple.iTunesStore.downloadInfo", download);

    return consumed(dict, plist_to_bin);
}

QByteArray appList(int count)
{
    plist_t apps = plist_new_array();
    for (int i = 0; i < count; ++i) {
        const QByteArray bundle = "com.vendor" + QByteArray::number(i % 97) + ".app" + QByteArray::number(i);
        const QByteArray name = (i % 3 ? "приложение " : "App ") + QByteArray::number((i * 7919) % count);
        const QByteArray path =
            "/private/var/containers/Bundle/Application/0F1E2D3C-" + QByteArray::number(i) + "/App.app";
        plist_t app = plist_new_dict();
        plist_dict_set_item(app, "ApplicationType", plist_new_string("User"));
        plist_dict_set_item(app, "CFBundleIdentifier", plist_new_string(bundle.constData()));
        plist_dict_set_item(app, "CFBundleDisplayName", plist_new_string(name.constData()));
        plist_dict_set_item(app, "CFBundleName", plist_new_string(name.constData()));
        plist_dict_set_item(app, "CFBundleExecutable", plist_new_string("App"));
        plist_dict_set_item(app, "CFBundleShortVersionString", plist_new_string("4.12.1"));
        plist_dict_set_item(app, "CFBundleVersion", plist_new_string("4121"));
        plist_dict_set_item(app, "MinimumOSVersion", plist_new_string("12.0"));
        plist_dict_set_item(app, "Path", plist_new_string(path.constData()));
        plist_dict_set_item(app, "Container", plist_new_string(path.constData()));
        plist_dict_set_item(app, "SignerIdentity", plist_new_string("Apple iPhone OS Application Signing"));
        plist_dict_set_item(app, "IsUpgradeable", plist_new_bool(1));
        plist_dict_set_item(app, "UIDeviceFamily", strings({"1", "2"}));
        plist_t entitlements = plist_new_dict();
        plist_dict_set_item(entitlements, "application-identifier", plist_new_string(bundle.constData()));
        plist_dict_set_item(entitlements, "keychain-access-groups", strings({bundle.constData()}));
        plist_dict_set_item(entitlements, "com.apple.developer.team-identifier", plist_new_string("ABCDE12345"));
        plist_dict_set_item(app, "Entitlements", entitlements);
        const QByteArray meta = metadata(i);
        plist_dict_set_item(app, "iTunesMetadata",
                            plist_new_data(meta.constData(), static_cast<uint64_t>(meta.size())));
        plist_array_append_item(apps, app);
    }
    return consumed(apps, plist_to_xml);
}

void ParseAndSortPhoneApps(benchmark::State& state)
{
    const QByteArray document = appList(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        QList<InstalledApp> apps = DeviceAppsReader::parseAppList(document);
        NameOrder::sort(apps);
        benchmark::DoNotOptimize(apps);
    }
    state.counters["bytes"] = static_cast<double>(document.size());
    state.SetLabel("XML app list with binary iTunesMetadata");
}

} // namespace

BENCHMARK(ParseAndSortPhoneApps)->Arg(2000)->Unit(benchmark::kMillisecond);

// ---- idle watch --------------------------------------------------------------------------------

// This process and every child it has waited for. The loopback phone stands in for the system's
// usbmuxd and is not waited for until it ends, so it stays out.
double cpuSeconds()
{
    double total = 0;
    for (const int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
        rusage usage{};
        getrusage(who, &usage);
        total += double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
                 + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    }
    return total;
}

int idlePasses()
{
    bool ok = false;
    const int passes = qEnvironmentVariableIntValue("QUORREL_BENCH_IDLE_PASSES", &ok);
    return ok && passes > 0 ? passes : 5;
}

// One trusted phone on the cable, already found and its apps read; each pass then finds nothing
// new. A pass and the watch's three-second pause, as the model's watch runs them.
void IdleWatchOfOnePhone(benchmark::State& state)
{
    TempHome home;
    for (const char* tool : {"idevice_id", "ideviceinfo", "ideviceinstaller"}) {
        const QString real = QStringLiteral("/usr/bin/") + QLatin1String(tool);
        if (!QFile::link(real, QDir(home.resourceDirectory()).filePath(QLatin1String(tool)))) {
            state.SkipWithError("Debian's libimobiledevice tools are not installed");
            return;
        }
    }
    const LoopbackPhone phone(QStringLiteral("paired"));
    AppModel model;
    AsyncTest::await(model.refreshDevices());
    const bool settled = model.devices().size() == 1
                         && AsyncTest::waitUntil([&] { return !model.hasPhoneAppsRead(); }, std::chrono::seconds(30));
    if (phone.address().isEmpty() || !settled) {
        state.SkipWithError("the loopback phone was not found");
        return;
    }
    const int passes = idlePasses();
    for (auto _ : state) {
        const quint64 childrenBefore = ProcessRunner::startedChildren();
        const double cpuBefore = cpuSeconds();
        QElapsedTimer wall;
        wall.start();
        for (int pass = 0; pass < passes; ++pass) {
            AsyncTest::await(model.refreshDevices());
            QEventLoop pause;
            QTimer::singleShot(std::chrono::seconds(3), Qt::PreciseTimer, &pause, &QEventLoop::quit);
            pause.exec();
        }
        const double cpu = cpuSeconds() - cpuBefore;
        const double wallSeconds = double(wall.nsecsElapsed()) / 1e9;
        state.counters["children_per_pass"] = double(ProcessRunner::startedChildren() - childrenBefore) / passes;
        state.counters["cpu_ms_per_pass"] = cpu * 1000 / passes;
        state.counters["cpu_percent_of_one_core"] = 100 * cpu / wallSeconds;
    }
    state.SetLabel(QStringLiteral("app and its children, %1 passes 3 s apart (QUORREL_BENCH_IDLE_PASSES)")
                       .arg(passes)
                       .toStdString());
}
BENCHMARK(IdleWatchOfOnePhone)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
