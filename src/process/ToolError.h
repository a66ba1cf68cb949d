#pragma once

#include "common/AppError.h"

/// A tool that could not be started, or that failed without saying anything more specific.
class ToolError : public AppError {
public:
    enum class Kind { exitStatus, launchFailed, hung, cancelled };

    ToolError(QString tool, int status, QString message);
    static ToolError launchFailed(QString tool, QString reason);
    /// Ended by the watchdog after printing nothing for `seconds`.
    static ToolError hung(QString tool, qint64 seconds);
    /// Ended on the user's or the application's request; neither a success nor a failure.
    static ToolError cancelled(QString tool);

    Kind kind() const { return m_kind; }
    const QString& tool() const { return m_tool; }
    int status() const { return m_status; }
    const QString& message() const { return m_message; }

    QString description() const override;

private:
    Kind m_kind = Kind::exitStatus;
    QString m_tool;
    int m_status = 0;
    QString m_message;
};
