#include "process/ProcessRunner.h"
#include "support/AsyncTest.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <vector>

namespace {

constexpr int lineCount = 1'000'000;

// One million lines of 80 bytes (79 letters and a line feed), written once per run.
const QString& linesFile()
{
    static QTemporaryDir dir;
    static const QString path = [] {
        const QString file = dir.filePath(QStringLiteral("lines.txt"));
        QFile out(file);
        out.open(QIODevice::WriteOnly);
        const QByteArray line = QByteArray(79, 'a') + '\n';
        QByteArray block;
        for (int i = 0; i < 10'000; ++i)
            block += line;
        for (int i = 0; i < lineCount / 10'000; ++i)
            out.write(block);
        return file;
    }();
    return path;
}

double peakMemoryMiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_maxrss) / 1024.0;
}

// The floor: the shell itself counting the same lines.
double floorSeconds()
{
    static const double seconds = [] {
        double best = 1e9;
        for (int i = 0; i < 3; ++i) {
            QElapsedTimer timer;
            timer.start();
            QProcess process;
            process.start(QStringLiteral("/bin/sh"),
                          {QStringLiteral("-c"), QStringLiteral("cat '") + linesFile() + QStringLiteral("' | wc -l")});
            process.waitForFinished(-1);
            best = std::min(best, double(timer.nsecsElapsed()) / 1e9);
        }
        return best;
    }();
    return seconds;
}

void BM_LineThroughput(benchmark::State& state)
{
    const QString file = linesFile();
    const double floor = floorSeconds();
    double total = 0;
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        qint64 lines = 0;
        const ProcessOutput output = AsyncTest::await(
            ProcessRunner::run(QStringLiteral("/bin/cat"), {file}, std::nullopt, [&](const QString&) { ++lines; }),
            std::chrono::minutes(5));
        total += double(timer.nsecsElapsed()) / 1e9;
        if (lines != lineCount)
            state.SkipWithError("lines were lost");
        benchmark::DoNotOptimize(output);
    }
    const double perRun = total / double(state.iterations());
    state.counters["lines_per_s"] = double(lineCount) / perRun;
    state.counters["floor_s"] = floor;
    state.counters["ratio_to_floor"] = perRun / floor;
    state.counters["peak_MiB"] = peakMemoryMiB();
}
BENCHMARK(BM_LineThroughput)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

void BM_LineLatency(benchmark::State& state)
{
    std::vector<double> latenciesMs;
    for (auto _ : state) {
        AsyncTest::await(ProcessRunner::run(QStringLiteral(QUORREL_LATENCY_CHILD), {}, std::nullopt,
                                            [&](const QString& line) {
                                                const auto now = std::chrono::steady_clock::now().time_since_epoch();
                                                const qint64 sent = line.toLongLong();
                                                const qint64 received =
                                                    std::chrono::duration_cast<std::chrono::nanoseconds>(now).count();
                                                latenciesMs.push_back(double(received - sent) / 1e6);
                                            }),
                         std::chrono::minutes(1));
    }
    std::sort(latenciesMs.begin(), latenciesMs.end());
    if (latenciesMs.empty()) {
        state.SkipWithError("no lines");
        return;
    }
    state.counters["median_ms"] = latenciesMs[latenciesMs.size() / 2];
    state.counters["p99_ms"] = latenciesMs[latenciesMs.size() * 99 / 100];
    state.counters["lines"] = double(latenciesMs.size());
}
BENCHMARK(BM_LineLatency)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

} // namespace

namespace {
void BM_CollectorOnly(benchmark::State& state)
{
    QFile file(linesFile());
    file.open(QIODevice::ReadOnly);
    const QByteArray all = file.readAll();
    for (auto _ : state) {
        qint64 lines = 0;
        OutputCollector collector([&](const QString&) { ++lines; });
        for (qsizetype at = 0; at < all.size(); at += 65536)
            collector.append(all.mid(at, 65536), OutputCollector::Stream::out);
        collector.flush();
        benchmark::DoNotOptimize(collector.result(0));
    }
}
BENCHMARK(BM_CollectorOnly)->Unit(benchmark::kMillisecond)->Iterations(3);
} // namespace
