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
    /// The same, led by `failure` ("Загрузка не удалась") when the text is a tool's own English
    /// words: the user learns what failed before the tool's explanation. Our texts say it already.
    static QString describe(const std::exception& error, const QString& failure);

private:
    mutable QByteArray m_what;
};
