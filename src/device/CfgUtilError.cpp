#include "device/CfgUtilError.h"

CfgUtilError::CfgUtilError(Kind kind, QString text)
    : m_kind(kind)
    , m_text(std::move(text))
{}

CfgUtilError CfgUtilError::message(QString text, QString detail)
{
    CfgUtilError error(Kind::message, std::move(text));
    error.m_detail = std::move(detail);
    return error;
}

QString CfgUtilError::description() const
{
    switch (m_kind) {
    case Kind::message:
        return m_text;
    case Kind::notInstalled:
        return QStringLiteral("Не найден cfgutil. Поставь Apple Configurator из App Store.");
    case Kind::noDevice:
        return QStringLiteral("iPhone не подключён");
    }
    return m_text;
}
