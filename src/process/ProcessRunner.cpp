#include "process/ProcessRunner.h"

#include "process/ToolError.h"

#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>

#include <QCoroSignal>

#include <coroutine>
#include <memory>

namespace ProcessRunner {
namespace {

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

} // namespace

QCoro::Task<ProcessOutput> run(QString program, QStringList arguments, std::optional<Environment> environment,
                               LineHandler onLine)
{
    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.setStandardInputFile(QProcess::nullDevice());
    if (environment) {
        QProcessEnvironment merged = QProcessEnvironment::systemEnvironment();
        for (auto it = environment->cbegin(); it != environment->cend(); ++it)
            merged.insert(it.key(), it.value());
        process.setProcessEnvironment(merged);
    }

    // Nothing may reach the caller before we know the child runs, so lines are only cut after start.
    OutputCollector collector(std::move(onLine));
    bool launched = false;
    const auto readOut = [&] {
        if (launched)
            collector.append(process.readAllStandardOutput(), OutputCollector::Stream::out);
    };
    const auto readErr = [&] {
        if (launched)
            collector.append(process.readAllStandardError(), OutputCollector::Stream::err);
    };
    QObject::connect(&process, &QProcess::readyReadStandardOutput, &process, readOut);
    QObject::connect(&process, &QProcess::readyReadStandardError, &process, readErr);

    // A failed exec is reported asynchronously, so wait for the state to settle either way.
    process.start(QIODevice::ReadOnly);
    co_await StartSettled{&process};
    if (process.state() == QProcess::NotRunning && process.error() == QProcess::FailedToStart)
        throw ToolError::launchFailed(QFileInfo(program).fileName(), process.errorString());
    launched = true;
    readOut();
    readErr();

    // No bound while the child runs: a download may take far longer than any fixed limit and its
    // answer comes last. QProcess reports the exit as soon as the child is gone, even when a
    // grandchild still holds the pipes, after draining what the pipes already hold.
    if (process.state() != QProcess::NotRunning)
        co_await qCoro(&process, &QProcess::finished);
    readOut();
    readErr();
    collector.flush();

    co_return collector.result(process.exitCode());
}

} // namespace ProcessRunner
