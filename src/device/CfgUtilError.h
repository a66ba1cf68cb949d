#pragma once

#include "common/AppError.h"

/// The error of the whole device subsystem: cfgutil, ideviceinstaller and the phone app reader.
class CfgUtilError : public AppError {
public:
    enum class Kind { message, notInstalled, noDevice };

    explicit CfgUtilError(Kind kind, QString text = {});
    static CfgUtilError message(QString text) { return CfgUtilError(Kind::message, std::move(text)); }

    Kind kind() const { return m_kind; }
    const QString& text() const { return m_text; }
    QString description() const override;

private:
    Kind m_kind;
    QString m_text;
};
