#include "store/IPAToolError.h"

IPAToolError::IPAToolError(Kind kind, QString text)
    : m_kind(kind)
    , m_text(std::move(text))
{}

QString IPAToolError::description() const
{
    switch (m_kind) {
    case Kind::badCredentials:
        return m_text.isEmpty() ? QStringLiteral("Apple ID или пароль не подошли") : m_text;
    case Kind::message:
        return m_text;
    case Kind::notInstalled:
        return QStringLiteral("Не найден ipatool. Поставь его: brew install ipatool");
    case Kind::needsTwoFactor:
        return QStringLiteral("Нужен код двухфакторной проверки");
    case Kind::notAuthenticated:
        return QStringLiteral("Сначала войди в Apple Account");
    case Kind::licenseRequired:
        return QStringLiteral("У аккаунта нет лицензии на это приложение — нажми «Получить лицензию»");
    case Kind::appNotFound:
        return QStringLiteral("Приложение не найдено в App Store");
    }
    return m_text;
}
