#pragma once

#include "common/AppError.h"

/// A failure of the system under us (network, file system, starting a program), with its own text.
class SystemError : public AppError {
public:
    explicit SystemError(QString text);

    QString description() const override { return m_text; }

private:
    QString m_text;
};
