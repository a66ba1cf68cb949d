#pragma once

#include "common/AppError.h"

/// What went wrong talking to the App Store through ipatool.
class IPAToolError : public AppError {
public:
    enum class Kind {
        badCredentials,
        message,
        notInstalled,
        needsTwoFactor,
        notAuthenticated,
        licenseRequired,
        appNotFound
    };

    explicit IPAToolError(Kind kind, QString text = {});

    Kind kind() const { return m_kind; }
    const QString& text() const { return m_text; }
    QString description() const override;

private:
    Kind m_kind;
    QString m_text;
};
