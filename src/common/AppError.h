#pragma once

#include <QByteArray>
#include <QString>

#include <exception>

/// Base of every error the application throws; `description()` is the text the user reads.
class AppError : public std::exception {
public:
    virtual QString description() const = 0;
    const char* what() const noexcept override;

    /// The user-facing text of any exception: ours describe themselves, others give what().
    static QString describe(const std::exception& error);

private:
    mutable QByteArray m_what;
};
