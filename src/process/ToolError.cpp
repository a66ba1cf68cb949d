#include "process/ToolError.h"

ToolError::ToolError(QString tool, int status, QString message)
    : m_tool(std::move(tool))
    , m_status(status)
    , m_message(std::move(message))
{}

ToolError ToolError::launchFailed(QString tool, QString reason)
{
    ToolError error(tool, -1, QStringLiteral("Не удалось запустить ") + tool + QStringLiteral(": ") + reason);
    error.m_kind = Kind::launchFailed;
    return error;
}

ToolError ToolError::hung(QString tool, qint64 seconds)
{
    ToolError error(tool, -1,
                    tool + QStringLiteral(" ничего не сообщал ") + QString::number(seconds)
                        + QStringLiteral(" с и был остановлен"));
    error.m_kind = Kind::hung;
    return error;
}

ToolError ToolError::cancelled(QString tool)
{
    ToolError error(tool, -1, QStringLiteral("Отменено"));
    error.m_kind = Kind::cancelled;
    return error;
}

QString ToolError::description() const
{
    if (!m_message.isEmpty())
        return m_message;
    return m_tool + QStringLiteral(": код возврата ") + QString::number(m_status);
}
