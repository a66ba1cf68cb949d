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
        appNotFound,
        /// ipatool keeps its sign-in in a file of its own that needs a passphrase.
        keychainLocked,
        wrongKeychainPassphrase,
        rateLimited,
        /// The code typed was refused; the text says why, in Russian.
        badCode
    };

    explicit IPAToolError(Kind kind, QString text = {});

    Kind kind() const { return m_kind; }
    const QString& text() const { return m_text; }
    bool isKeychainError() const { return m_kind == Kind::keychainLocked || m_kind == Kind::wrongKeychainPassphrase; }
    QString description() const override;

private:
    Kind m_kind;
    QString m_text;
};
