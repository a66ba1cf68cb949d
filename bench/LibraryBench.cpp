// The library window at scale: from a new history to the first painted frame, one search
// keystroke (filter and repaint), and the memory the rows cost, for 100 and 10,000 apps.

#include "model/AppModel.h"
#include "model/ModelTestSupport.h"
#include "store/PurchasesCache.h"
#include "support/AsyncTest.h"
#include "support/StandinTools.h"
#include "support/TempHome.h"
#include "ui/MainView.h"
#include "ui/MainWindow.h"

#include <QElapsedTimer>
#include <QFile>
#include <QListView>
#include <QTimeZone>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>

using namespace ModelTest;

namespace {

const QString email = "ivan@example.com";

QList<PurchasedApp> history(int count, const QString& prefix)
{
    const QStringList words{"Погода", "Карты", "Заметки", "Почта", "Камера",
                            "Музыка", "Книги", "Фото",    "Часы",  "Калькулятор"};
    QList<PurchasedApp> apps;
    apps.reserve(count);
    for (int i = 0; i < count; ++i) {
        PurchasedApp app;
        app.id = 100000 + i;
        app.bundleID = QString("com.example.%1%2").arg(prefix).arg(i);
        app.name = QString("%1 %2 %3").arg(words[i % words.size()], prefix).arg(i);
        app.version = "4.2.1";
        app.purchaseDate = QDateTime(QDate(2015, 1, 1), QTime(12, 0), QTimeZone::utc()).addDays(i % 3000);
        app.artworkFetched = true;
        if (i % 40 != 0)
            app.artworkURL = QUrl("file:///nonexistent/icon.png");
        apps.append(app);
    }
    return apps;
}

long residentKiB()
{
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    }
    return 0;
}

/// Counts the list's paint events, so a measurement can end at the frame the user would see.
struct PaintWatch : QObject {
    int frames = 0;
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            ++frames;
        return false;
    }
    void waitForFrame(int before)
    {
        QElapsedTimer waited;
        waited.start();
        while (frames == before) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents | QEventLoop::AllEvents, 5);
            if (waited.elapsed() > 10000) {
                std::fprintf(stderr, "no frame was painted\n");
                std::abort();
            }
        }
    }
};

struct Window {
    TempHome home;
    StandinTools tools{home.resourceDirectory(), {"ipatool"}};
    AppModel model{AppModel::Endpoints{QUrl("http://127.0.0.1:9/")}};
    MainWindow window{&model};
    PaintWatch watch;
    QListView* list = nullptr;

    explicit Window(int count)
    {
        PurchasesCache::save(history(count, "a"), email);
        tools.setScenario(scenario({signedInAs(email)}, {{"signedIn", "yes"}, {"email", email}}));
        window.show();
        AsyncTest::waitUntil([&] { return window.mainView() != nullptr && !model.apps().isEmpty(); });
        model.stopDeviceWatch();
        list = window.mainView()->findChild<QListView*>("libraryList");
        list->viewport()->installEventFilter(&watch);
        for (int i = 0; i < 20; ++i)
            QCoreApplication::processEvents();
    }
};

void BM_LibraryFirstFrame(benchmark::State& state)
{
    const int count = int(state.range(0));
    Window window(count);
    // Two histories of the same size in turn, so every round is a real change of `apps`.
    const QByteArray a = [&] {
        QFile file(PurchasesCache::filePath());
        file.open(QIODevice::ReadOnly);
        return file.readAll();
    }();
    PurchasesCache::save(history(count, "b"), email);
    QFile bFile(PurchasesCache::filePath());
    bFile.open(QIODevice::ReadOnly);
    const QByteArray b = bFile.readAll();
    bool useA = false; // the window shows history a already
    for (auto _ : state) {
        state.PauseTiming();
        const std::optional<PurchasesCache::Payload> payload = PurchasesCache::decode(useA ? a : b);
        QFile file(PurchasesCache::filePath());
        file.open(QIODevice::WriteOnly | QIODevice::Truncate);
        file.write(useA ? a : b);
        file.close();
        useA = !useA;
        const int before = window.watch.frames;
        state.ResumeTiming();
        // Reading the cache is the store's own cost (measured there); what counts here is the
        // library taking the new list and drawing it.
        window.model.loadCachedPurchases();
        window.watch.waitForFrame(before);
        benchmark::DoNotOptimize(payload);
    }
    state.counters["rows"] = window.list->model()->rowCount();
}
BENCHMARK(BM_LibraryFirstFrame)->Arg(100)->Arg(10000)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_LibraryKeystroke(benchmark::State& state)
{
    Window window(int(state.range(0)));
    const QStringList queries{"Погода a 1", "Погода a 2", "погода",
                              "Погода a"}; // every one matches, so the list itself repaints
    int step = 0;
    for (auto _ : state) {
        const int before = window.watch.frames;
        window.model.setSearch(queries[step++ % queries.size()]);
        window.watch.waitForFrame(before);
    }
    state.counters["rows"] = window.list->model()->rowCount();
}
BENCHMARK(BM_LibraryKeystroke)->Arg(100)->Arg(10000)->Unit(benchmark::kMillisecond)->UseRealTime();

// Run each size alone (see CMakeLists.txt): freed memory is not returned, so a second window in
// the same process would reuse the first one's pages.
void BM_LibraryMemory(benchmark::State& state)
{
    for (auto _ : state) {
        const long before = residentKiB();
        Window window(int(state.range(0)));
        // Scroll through the whole list once so every row has been laid out and drawn.
        window.list->scrollToBottom();
        for (int i = 0; i < 10; ++i)
            QCoreApplication::processEvents();
        state.counters["rss_growth_MiB"] = double(residentKiB() - before) / 1024.0;
    }
}
BENCHMARK(BM_LibraryMemory)->Arg(100)->Arg(10000)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace
