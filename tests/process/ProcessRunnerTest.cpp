#include "process/ProcessRunner.h"

#include "process/ToolError.h"
#include "support/Test.h"

#include <QElapsedTimer>

#include <csignal>

namespace {

ProcessOutput sh(const QString& script, ProcessRunner::LineHandler onLine = {},
                 std::optional<ProcessRunner::Environment> environment = std::nullopt)
{
    return AsyncTest::await(ProcessRunner::run("/bin/sh", {"-c", script}, std::move(environment), std::move(onLine)));
}

} // namespace

TEST(ProcessRunner, KeepsBothStreamsWholeTheStatusOfAnyEndingAndTheEnvironmentGiven)
{
    const QString bad(QChar(0xFFFD));
    const struct {
        const char* script;
        int status;
        QString out;
        QString err;
        QStringList lines; // sorted: the two streams interleave as they please
        std::optional<ProcessRunner::Environment> environment = std::nullopt;
    } cases[] = {
        {"printf 'a\\r\\nb\\n'; printf '  x \\t\\n\\n\\n' >&2; exit 4", 4, "a\r\nb\n", "  x \t\n\n\n", {"a", "b", "x"}},
        {"exit 3", 3, "", "", {}},
        {"cat; echo done", 0, "done\n", "", {"done"}}, // standard input is closed
        {"echo before; kill -KILL $$", SIGKILL, "before\n", "", {"before"}},
        {"printf 'caf\\351\\n'; printf '\\377\\376' >&2", 0, "caf" + bad + "\n", bad + bad, {"caf" + bad, bad + bad}},
        // The map replaces an inherited variable and keeps the rest.
        {"echo \"$QUORREL_RUNNER_KEEP $QUORREL_RUNNER_SWAP $QUORREL_RUNNER_NEW\"",
         0,
         "kept new x\n",
         "",
         {"kept new x"},
         ProcessRunner::Environment{{"QUORREL_RUNNER_SWAP", "new"}, {"QUORREL_RUNNER_NEW", "x"}}},
        {"echo \"$QUORREL_RUNNER_SWAP\"", 0, "old\n", "", {"old"}},
        // A grandchild holding the pipes must not hold up the result.
        {"sleep 30 & echo answer", 0, "answer\n", "", {"answer"}},
    };
    qputenv("QUORREL_RUNNER_KEEP", "kept");
    qputenv("QUORREL_RUNNER_SWAP", "old");
    QElapsedTimer timer;
    timer.start();
    for (const auto& example : cases) {
        const ProcessOutput output = sh(example.script, {}, example.environment);
        QStringList lines = output.lines();
        lines.sort();
        EXPECT_EQ(output.status, example.status) << example.script;
        EXPECT_EQ(output.standardOutput(), example.out) << example.script;
        EXPECT_EQ(output.standardError(), example.err) << example.script;
        EXPECT_EQ(lines, example.lines) << example.script;
    }
    // Well under the grandchild's 30 s even on a loaded machine.
    EXPECT_LT(timer.elapsed(), 20000);
}

TEST(ProcessRunner, ProgressLinesArriveWhileTheChildStillRuns)
{
    QTemporaryDir dir;
    const QString gate = dir.filePath("gate");
    // The child only exits once the test has seen all three lines and opened the gate.
    QStringList seen;
    const ProcessOutput output = sh(
        QString("for p in 10 20 30; do printf \"$p%%\\r\"; done; while [ ! -e '%1' ]; do sleep 0.01; done").arg(gate),
        [&](const QString& line) {
            seen.append(line);
            if (seen.size() == 3)
                QFile(gate).open(QIODevice::WriteOnly);
        });
    EXPECT_EQ(seen, (QStringList{"10%", "20%", "30%"}));
    EXPECT_EQ(output.lines(), seen);
}

TEST(ProcessRunner, MissingOrNonExecutableToolFailsAtLaunchWithoutCallbacks)
{
    QTemporaryDir dir;
    const QString plain = dir.filePath("ipatool");
    ASSERT_TRUE(QFile(plain).open(QIODevice::WriteOnly));

    for (const QString& program : {dir.filePath("absent"), plain}) {
        int calls = 0;
        try {
            AsyncTest::await(ProcessRunner::run(program, {}, std::nullopt, [&](const QString&) { ++calls; }));
            ADD_FAILURE() << "no launch failure for " << program.toStdString();
        } catch (const ToolError& error) {
            EXPECT_EQ(error.kind(), ToolError::Kind::launchFailed);
            EXPECT_EQ(error.tool(), QFileInfo(program).fileName());
            EXPECT_FALSE(error.description().isEmpty());
        }
        EXPECT_EQ(calls, 0);
    }
}

TEST(ProcessRunner, HundredMegabytesOfOutputAreCollectedWhole)
{
    // 100 MB as 1.25 million lines, and then as one single unterminated line.
    int count = 0;
    const ProcessOutput lines =
        sh("yes 'aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa' | head -n 1250000",
           [&](const QString&) { ++count; });
    EXPECT_EQ(count, 1250000);
    EXPECT_EQ(lines.standardOutput().size(), 100000000);

    const ProcessOutput single = sh("head -c 100000000 /dev/zero | tr '\\0' 'z'");
    ASSERT_EQ(single.lines().size(), 1);
    EXPECT_EQ(single.lines().first().size(), 100000000);
}

namespace {

// The pid a script wrote, once it is there.
qint64 pidFrom(const QString& path)
{
    qint64 pid = 0;
    AsyncTest::waitUntil([&] {
        QFile file(path);
        pid = file.open(QIODevice::ReadOnly) ? file.readAll().trimmed().toLongLong() : 0;
        return pid > 0;
    });
    return pid;
}

bool gone(qint64 pid)
{
    return AsyncTest::waitUntil([pid] { return ::kill(static_cast<pid_t>(pid), 0) != 0; });
}

} // namespace

TEST(ProcessRunner, SilentChildIsEndedAsHungWithEverythingItStarted)
{
    QTemporaryDir dir;
    const QString pidFile = dir.filePath("pid");
    ProcessRunner::Options options;
    options.watchdog = std::chrono::milliseconds(300);
    QElapsedTimer timer;
    timer.start();
    try {
        // The grandchild ignores SIGTERM: it must still not outlive the run.
        AsyncTest::await(ProcessRunner::run(
            "/bin/sh",
            {"-c", QString("echo start; sh -c 'trap \"\" TERM; echo $$ > %1; sleep 60' & wait").arg(pidFile)},
            options));
        ADD_FAILURE() << "a silent child was not ended";
    } catch (const ToolError& error) {
        EXPECT_EQ(error.kind(), ToolError::Kind::hung);
        EXPECT_EQ(error.tool(), "sh");
    }
    EXPECT_LT(timer.elapsed(), 20000);
    EXPECT_TRUE(gone(pidFrom(pidFile)));
}

TEST(ProcessRunner, OutputOrActivityKeepsTheWatchdogAwayAndCancelEndsTheRun)
{
    ProcessRunner::Options talking;
    talking.watchdog = std::chrono::milliseconds(400);
    const ProcessOutput chatty = AsyncTest::await(
        ProcessRunner::run("/bin/sh", {"-c", "for i in 1 2 3 4 5 6; do echo $i; sleep 0.2; done"}, talking));
    EXPECT_EQ(chatty.lines().size(), 6);

    QTemporaryDir dir;
    const QString growing = dir.filePath("growing");
    ProcessRunner::Options working;
    working.watchdog = std::chrono::milliseconds(400);
    working.activity = [growing] { return QFileInfo(growing).size(); };
    const ProcessOutput quiet = AsyncTest::await(ProcessRunner::run(
        "/bin/sh", {"-c", QString("for i in 1 2 3 4 5 6; do echo x >> '%1'; sleep 0.2; done").arg(growing)}, working));
    EXPECT_EQ(quiet.status, 0);

    const QString pidFile = dir.filePath("pid");
    ProcessRunner::Options cancellable;
    const CancelHandle cancel;
    cancellable.cancel = cancel;
    auto pending = ProcessRunner::run("/bin/sh", {"-c", QString("echo $$ > %1; sleep 60").arg(pidFile)}, cancellable);
    const qint64 pid = pidFrom(pidFile);
    cancel.cancel();
    try {
        AsyncTest::await(std::move(pending));
        ADD_FAILURE() << "a cancelled run returned";
    } catch (const ToolError& error) {
        EXPECT_EQ(error.kind(), ToolError::Kind::cancelled);
    }
    EXPECT_TRUE(gone(pid));
    // A handle cancelled before the start runs nothing.
    EXPECT_THROW(AsyncTest::await(ProcessRunner::run("/bin/true", {}, cancellable)), ToolError);
}
