#include "common/AppError.h"

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
