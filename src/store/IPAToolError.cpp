#include "store/IPAToolError.h"

#include "platform/Platform.h"

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
    case Kind::badCode:
        return m_text;
    case Kind::notInstalled:
        // Linux has no Homebrew as a rule: ipatool comes from its GitHub releases there.
        if constexpr (Platform::isLinux())
            return QStringLiteral("Не найден ipatool: скачай его со страницы релизов на GitHub, положи в "
                                  "~/.local/bin и сделай исполняемым (chmod +x)");
        return QStringLiteral("Не найден ipatool. Поставь его: brew install ipatool");
    case Kind::needsTwoFactor:
        return QStringLiteral("Нужен код двухфакторной проверки");
    case Kind::notAuthenticated:
        return QStringLiteral("Сначала войди в Apple Account");
    case Kind::licenseRequired:
        return QStringLiteral("У аккаунта нет лицензии на это приложение — нажми «Получить лицензию»");
    case Kind::appNotFound:
        return QStringLiteral("Приложение не найдено в App Store");
    case Kind::keychainLocked:
        return QStringLiteral("ipatool хранит вход в зашифрованном файле — введи пароль его связки ключей");
    case Kind::wrongKeychainPassphrase:
        return QStringLiteral("Пароль связки ключей ipatool не подошёл");
    case Kind::rateLimited:
        return QStringLiteral("Apple просит подождать: слишком много запросов подряд. Попробуй снова через "
                              "несколько минут");
    }
    return m_text;
}
