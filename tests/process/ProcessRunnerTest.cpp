#include "process/ProcessRunner.h"

#include "process/ToolError.h"
#include "support/AsyncTest.h"
#include "support/QtPrinters.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>

namespace {

ProcessOutput sh(const QString& script, ProcessRunner::LineHandler onLine = {},
                 std::optional<ProcessRunner::Environment> environment = std::nullopt)
{
    return AsyncTest::await(ProcessRunner::run("/bin/sh", {"-c", script}, std::move(environment), std::move(onLine)));
}

} // namespace

TEST(ProcessRunner, CollectsBothStreamsLinesAndStatus)
{
    const ProcessOutput output = sh("printf 'a\\r\\nb\\n'; printf '  x \\t\\n\\n\\n' >&2; exit 4");
    EXPECT_EQ(output.status, 4);
    EXPECT_EQ(output.standardOutput(), "a\r\nb\n");
    EXPECT_EQ(output.standardError(), "  x \t\n\n\n");
    EXPECT_TRUE(output.lines().contains("a") && output.lines().contains("b") && output.lines().contains("x"));
    EXPECT_EQ(output.lines().size(), 3);
}

TEST(ProcessRunner, SilentFailureIsAStatusNotAnError)
{
    const ProcessOutput output = sh("exit 3");
    EXPECT_EQ(output.status, 3);
    EXPECT_TRUE(output.standardOutput().isEmpty());
    EXPECT_TRUE(output.standardError().isEmpty());
    EXPECT_TRUE(output.lines().isEmpty());
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

TEST(ProcessRunner, UnterminatedTailsComeAfterExitStandardOutputFirst)
{
    QStringList seen;
    sh("printf 'err' >&2; sleep 0.05; printf ' out  '", [&](const QString& line) { seen.append(line); });
    EXPECT_EQ(seen, (QStringList{"out", "err"}));
}

TEST(ProcessRunner, MissingOrNonExecutableToolFailsAtLaunchWithoutCallbacks)
{
    QTemporaryDir dir;
    const QString plain = dir.filePath("ipatool");
    QFile file(plain);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("#!/bin/sh\necho hi\n");
    file.close();

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

TEST(ProcessRunner, EnvironmentMapReplacesInheritedVariableAndKeepsTheRest)
{
    qputenv("QUORREL_RUNNER_KEEP", "kept");
    qputenv("QUORREL_RUNNER_SWAP", "old");
    const ProcessOutput merged =
        sh("echo \"$QUORREL_RUNNER_KEEP $QUORREL_RUNNER_SWAP $QUORREL_RUNNER_NEW\"", {},
           ProcessRunner::Environment{{"QUORREL_RUNNER_SWAP", "new"}, {"QUORREL_RUNNER_NEW", "x"}});
    EXPECT_EQ(merged.lines(), QStringList{"kept new x"});
    const ProcessOutput inherited = sh("echo \"$QUORREL_RUNNER_SWAP\"");
    EXPECT_EQ(inherited.lines(), QStringList{"old"});
}

TEST(ProcessRunner, ChildKilledBySignalReturnsInsteadOfThrowing)
{
    const ProcessOutput output = sh("echo before; kill -KILL $$");
    EXPECT_EQ(output.lines(), QStringList{"before"});
    EXPECT_EQ(output.status, SIGKILL);
}

TEST(ProcessRunner, StandardInputIsClosed)
{
    const ProcessOutput output = sh("cat; echo done");
    EXPECT_EQ(output.lines(), QStringList{"done"});
}

TEST(ProcessRunner, GrandchildHoldingThePipesDoesNotHoldUpTheResult)
{
    QElapsedTimer timer;
    timer.start();
    const ProcessOutput output = sh("sleep 30 & echo answer");
    EXPECT_LT(timer.elapsed(), 5000);
    EXPECT_EQ(output.lines(), QStringList{"answer"});
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

TEST(ProcessRunner, OutputThatIsNotUtf8IsReplacedNotFatal)
{
    const ProcessOutput output = sh("printf 'caf\\351\\n'; printf '\\377\\376' >&2");
    ASSERT_EQ(output.lines().size(), 2);
    EXPECT_EQ(output.lines()[0], QString("caf") + QChar(0xFFFD));
    EXPECT_TRUE(output.standardError().contains(QChar(0xFFFD)));
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
