#include "process/ProcessRunner.h"

#include "BuildConfig.h"
#include "process/ToolError.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTimer>

#include <QCoroSignal>

#include <algorithm>
#include <atomic>
#include <coroutine>
#include <memory>

#include <csignal>
#include <fcntl.h>
#include <sys/types.h>
#include <unistd.h>

namespace ProcessRunner {
namespace {

using namespace std::chrono_literals;

// Long enough for a tool to tidy up after SIGTERM, short enough that a cancel feels immediate.
constexpr auto terminateGrace = 1500ms;
#ifdef F_SETPIPE_SZ
// Linux lets any user grow a pipe to 1 MiB.
constexpr int pipeSize = 1 << 20;
#endif

std::atomic<quint64> started{0};

// Resumes once the child has either started or failed to. QProcess reports a failed exec only
// later, from the event loop, and its state signal cannot go through QCoro's signal awaiter.
struct StartSettled {
    QProcess* process;

    bool await_ready() const { return process->state() != QProcess::Starting; }
    void await_suspend(std::coroutine_handle<> handle) const
    {
        auto connection = std::make_shared<QMetaObject::Connection>();
        *connection = QObject::connect(process, &QProcess::stateChanged, process,
                                       [process = process, handle, connection](QProcess::ProcessState state) {
                                           if (state == QProcess::Starting)
                                               return;
                                           QObject::disconnect(*connection);
                                           // Resume outside the emission: the frame owns the process.
                                           QMetaObject::invokeMethod(
                                               process, [handle] { handle.resume(); }, Qt::QueuedConnection);
                                       });
    }
    void await_resume() const {}
};

// Ends a child and everything it started: each child leads its own process group, so a tool's
// helpers (and a shell's children) go with it.
class GroupStopper {
public:
    enum class Reason { none, cancelled, hung };

    explicit GroupStopper(QProcess& process)
        : m_process(process)
    {
        m_kill.setSingleShot(true);
        m_kill.setInterval(terminateGrace);
        QObject::connect(&m_kill, &QTimer::timeout, &m_process, [this] { signalGroup(SIGKILL); });
    }

    void stop(Reason reason)
    {
        if (m_reason != Reason::none || m_process.state() == QProcess::NotRunning)
            return;
        m_reason = reason;
        m_group = m_process.processId();
        signalGroup(SIGTERM);
        m_kill.start();
    }

    /// After the child is gone: whatever of its group ignored SIGTERM goes now.
    void finish()
    {
        m_kill.stop();
        if (m_reason != Reason::none)
            signalGroup(SIGKILL);
    }

    Reason reason() const { return m_reason; }

private:
    void signalGroup(int signal) const
    {
        if (m_group > 0)
            ::kill(-static_cast<pid_t>(m_group), signal);
    }

    QProcess& m_process;
    QTimer m_kill;
    Reason m_reason = Reason::none;
    qint64 m_group = 0;
};

} // namespace

quint64 startedChildren()
{
    return started.load();
}

std::chrono::milliseconds defaultWatchdog()
{
    return std::chrono::seconds(BuildConfig::toolWatchdogSeconds);
}

QCoro::Task<ProcessOutput> run(QString program, QStringList arguments, std::optional<Environment> environment,
                               LineHandler onLine)
{
    Options options;
    options.environment = std::move(environment);
    options.onLine = std::move(onLine);
    co_return co_await run(std::move(program), std::move(arguments), std::move(options));
}

QCoro::Task<ProcessOutput> run(QString program, QStringList arguments, Options options)
{
    const QString toolName = QFileInfo(program).fileName();
    if (options.cancel && options.cancel->isCancelled())
        throw ToolError::cancelled(toolName);

    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.setStandardInputFile(QProcess::nullDevice());
    process.setChildProcessModifier([] {
        ::setpgid(0, 0);
        // Wider pipes mean fewer, larger reads and far fewer wake-ups for a chatty tool. A pipe's
        // size belongs to the pipe, so the child may set it; where the system refuses, nothing changes.
#ifdef F_SETPIPE_SZ
        ::fcntl(STDOUT_FILENO, F_SETPIPE_SZ, pipeSize);
        ::fcntl(STDERR_FILENO, F_SETPIPE_SZ, pipeSize);
#endif
    });
    if (options.environment) {
        QProcessEnvironment merged = QProcessEnvironment::systemEnvironment();
        for (auto it = options.environment->cbegin(); it != options.environment->cend(); ++it)
            merged.insert(it.key(), it.value());
        process.setProcessEnvironment(merged);
    }

    // Nothing may reach the caller before we know the child runs, so lines are only cut after start.
    OutputCollector collector(std::move(options.onLine));
    QElapsedTimer quiet;
    bool launched = false;
    const auto read = [&](QByteArray bytes, OutputCollector::Stream stream) {
        if (bytes.isEmpty())
            return;
        quiet.restart();
        collector.append(bytes, stream);
    };
    const auto readOut = [&] {
        if (launched)
            read(process.readAllStandardOutput(), OutputCollector::Stream::out);
    };
    const auto readErr = [&] {
        if (launched)
            read(process.readAllStandardError(), OutputCollector::Stream::err);
    };
    QObject::connect(&process, &QProcess::readyReadStandardOutput, &process, readOut);
    QObject::connect(&process, &QProcess::readyReadStandardError, &process, readErr);

    // A failed exec is reported asynchronously, so wait for the state to settle either way.
    process.start(QIODevice::ReadOnly);
    co_await StartSettled{&process};
    if (process.state() == QProcess::NotRunning && process.error() == QProcess::FailedToStart)
        throw ToolError::launchFailed(toolName, process.errorString());
    launched = true;
    ++started;
    quiet.start();
    readOut();
    readErr();

    GroupStopper stopper(process);
    if (options.cancel) {
        options.cancel->onCancel(&process, [&] { stopper.stop(GroupStopper::Reason::cancelled); });
        if (options.cancel->isCancelled())
            stopper.stop(GroupStopper::Reason::cancelled);
    }
    QTimer watchdog;
    qint64 lastActivity = options.activity ? options.activity() : 0;
    if (options.watchdog) {
        const auto limit = *options.watchdog;
        watchdog.setInterval(std::clamp<std::chrono::milliseconds>(limit / 4, 10ms, 1s));
        QObject::connect(&watchdog, &QTimer::timeout, &process, [&, limit] {
            if (options.activity) {
                if (const qint64 now = options.activity(); now != lastActivity) {
                    lastActivity = now;
                    quiet.restart();
                }
            }
            if (std::chrono::milliseconds(quiet.elapsed()) >= limit)
                stopper.stop(GroupStopper::Reason::hung);
        });
        watchdog.start();
    }

    // No bound while the child runs: a download may take far longer than any fixed limit and its
    // answer comes last. QProcess reports the exit as soon as the child is gone, even when a
    // grandchild still holds the pipes, after draining what the pipes already hold.
    if (process.state() != QProcess::NotRunning)
        co_await qCoro(&process, &QProcess::finished);
    watchdog.stop();
    stopper.finish();
    readOut();
    readErr();
    collector.flush();

    switch (stopper.reason()) {
    case GroupStopper::Reason::cancelled:
        throw ToolError::cancelled(toolName);
    case GroupStopper::Reason::hung:
        throw ToolError::hung(toolName, std::chrono::ceil<std::chrono::seconds>(*options.watchdog).count());
    case GroupStopper::Reason::none:
        break;
    }
    co_return collector.result(process.exitCode());
}

} // namespace ProcessRunner
