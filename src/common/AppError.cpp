#include "common/AppError.h"

#include <algorithm>

const char* AppError::what() const noexcept
{
    if (m_what.isEmpty())
        m_what = description().toUtf8();
    return m_what.constData();
}

QString AppError::describe(const std::exception& error)
{
    if (const auto* own = dynamic_cast<const AppError*>(&error))
        return own->description();
    return QString::fromUtf8(error.what());
}

QString AppError::describe(const std::exception& error, const QString& failure)
{
    const QString text = describe(error);
    if (text.isEmpty())
        return failure;
    const bool russian =
        std::any_of(text.cbegin(), text.cend(), [](QChar c) { return c.script() == QChar::Script_Cyrillic; });
    return russian ? text : failure + QStringLiteral(": ") + text;
}
