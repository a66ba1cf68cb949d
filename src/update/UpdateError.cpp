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
    case Kind::missingSignature:
        return QStringLiteral("Обновление не подписано — ставить его нельзя. Обновление отменено.");
    case Kind::badSignature:
        return QStringLiteral("Подпись обновления не сошлась — файл подменён или повреждён. Обновление отменено.");
    case Kind::unsignedBuild:
        return QStringLiteral("Эта сборка ставит обновления только из подписанного выпуска — скачай новую версию "
                              "со страницы проекта");
    }
    return {};
}
