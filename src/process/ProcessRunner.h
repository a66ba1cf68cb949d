#pragma once

#include "process/OutputCollector.h"
#include "process/ProcessOutput.h"

#include <QHash>
#include <QString>
#include <QStringList>

#include <QCoroTask>

#include <optional>

/// Starts every external tool. Lines reach `onLine` on the interface thread while the child runs;
/// the result comes once it has exited. A non-zero exit is returned, never thrown.
namespace ProcessRunner {

using Environment = QHash<QString, QString>;
using LineHandler = OutputCollector::LineHandler;

/// Throws ToolError (Kind::launchFailed) when the child cannot be started; no line is delivered then.
/// `environment`, when given, is merged over the inherited one.
QCoro::Task<ProcessOutput> run(QString program, QStringList arguments,
                               std::optional<Environment> environment = std::nullopt, LineHandler onLine = {});

} // namespace ProcessRunner
