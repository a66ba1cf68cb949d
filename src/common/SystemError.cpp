#include "common/SystemError.h"

SystemError::SystemError(QString text)
    : m_text(std::move(text))
{}
