#pragma once

#include "process/CancelHandle.h"
#include "process/OutputCollector.h"
#include "process/ProcessOutput.h"

#include <QHash>
#include <QString>
#include <QStringList>

#include <QCoroTask>

#include <chrono>
#include <functional>
#include <optional>

/// Starts every external tool. Lines reach `onLine` on the interface thread while the child runs;
/// the result comes once it has exited. A non-zero exit is returned, never thrown.
namespace ProcessRunner {

using Environment = QHash<QString, QString>;
using LineHandler = OutputCollector::LineHandler;

struct Options {
    /// Merged over the inherited environment.
    std::optional<Environment> environment;
    LineHandler onLine;
    /// Cancelling ends the child's whole process group; the run then throws ToolError::cancelled.
    std::optional<CancelHandle> cancel;
    /// A child that prints nothing for this long is ended the same way and ToolError::hung thrown.
    std::optional<std::chrono::milliseconds> watchdog;
    /// For tools that work without a word (a download): a changed value counts as a sign of life.
    std::function<qint64()> activity;
};

/// What the build allows a tool to stay silent.
std::chrono::milliseconds defaultWatchdog();

/// Children started by this process so far; the benchmarks count a pass's tools with it.
quint64 startedChildren();

/// Throws ToolError (Kind::launchFailed) when the child cannot be started; no line is delivered then.
QCoro::Task<ProcessOutput> run(QString program, QStringList arguments, Options options);
QCoro::Task<ProcessOutput> run(QString program, QStringList arguments,
                               std::optional<Environment> environment = std::nullopt, LineHandler onLine = {});

} // namespace ProcessRunner
