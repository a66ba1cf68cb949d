#include "device/CfgUtilError.h"

CfgUtilError::CfgUtilError(Kind kind, QString text)
    : m_kind(kind)
    , m_text(std::move(text))
{}

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
