#pragma once

#include "common/AppError.h"

/// The error of the whole device subsystem: cfgutil, ideviceinstaller and the phone app reader.
class CfgUtilError : public AppError {
public:
    enum class Kind { message, notInstalled, noDevice };

    explicit CfgUtilError(Kind kind, QString text = {});
    /// `detail`: the tool's own words behind the advice, for the log rather than the user.
    static CfgUtilError message(QString text, QString detail = {});

    Kind kind() const { return m_kind; }
    const QString& text() const { return m_text; }
    const QString& detail() const { return m_detail; }
    QString description() const override;

private:
    Kind m_kind;
    QString m_text;
    QString m_detail;
};
