#include "update/UpdateError.h"

UpdateError::UpdateError(Kind kind, QString path)
    : m_kind(kind)
    , m_path(std::move(path))
{}

QString UpdateError::description() const
{
    switch (m_kind) {
    case Kind::badManifest:
        return QStringLiteral("Сервер обновлений ответил чем-то неожиданным");
    case Kind::checksumMismatch:
        return QStringLiteral(
            "Контрольная сумма не сошлась — файл скачался повреждённым или подменён. Обновление отменено.");
    case Kind::notAnApp:
        return QStringLiteral("В архиве нет приложения «Quorrel»");
    case Kind::cannotReplace:
        return QStringLiteral("Не удалось заменить ") + m_path
               + QStringLiteral(". Перетащи новую версию в Программы вручную.");
    }
    return {};
}
