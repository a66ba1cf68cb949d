#include "demo/DemoEnvironment.h"
#include "model/AppModel.h"
#include "ui/MainWindow.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>

#include <benchmark/benchmark.h>

#include <memory>

namespace {

// From nothing to the demo's first window on screen: the throw-away world, the model and the window.
// The copy of the bundle `make demo` runs from comes before this and is not counted.
void BM_DemoFirstWindow(benchmark::State& state)
{
    double total = 0;
    for (auto _ : state) {
        QTemporaryDir folder;
        QElapsedTimer timer;
        timer.start();
        auto demo = std::make_unique<DemoEnvironment>(QStringLiteral(QUORREL_DEMO_DATA_DIR), folder.path());
        if (!demo->isReady()) {
            state.SkipWithError("the demo could not start");
            return;
        }
        auto model = std::make_unique<AppModel>(demo->endpoints());
        auto window = std::make_unique<MainWindow>(model.get());
        window->show();
        if (!QTest::qWaitForWindowExposed(window.get())) {
            state.SkipWithError("the window never showed");
            return;
        }
        total += double(timer.nsecsElapsed()) / 1e6;
        state.PauseTiming();
        window.reset();
        model.reset();
        demo.reset();
        state.ResumeTiming();
    }
    state.counters["first_window_ms"] = total / double(state.iterations());
}
BENCHMARK(BM_DemoFirstWindow)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

} // namespace
