#include "model/AppModel.h"

#include "common/AppError.h"

#include <QRegularExpression>

void AppModel::storeVersions(qint64 adamID, QList<AppVersion> versions)
{
    m_versionsByApp.insert(adamID, std::move(versions));
    Q_EMIT versionsByAppChanged();
}

QCoro::Task<QList<AppVersion>> AppModel::loadVersions(qint64 adamID, QString name)
{
    const auto cached = m_versionsByApp.constFind(adamID);
    if (cached != m_versionsByApp.cend())
        co_return *cached;

    setActivity(adamID, AppActivity{AppActivity::Kind::fetchingVersions, 0, 0, {}, 0});
    QList<AppVersion> versions;
    try {
        const QStringList ids = co_await m_ipatool.versions(adamID);
        // ipatool lists versions oldest first; only the newest get their metadata, one at a time.
        const qsizetype firstRecent = std::max<qsizetype>(0, ids.size() - versionsWithMetadata);
        for (qsizetype i = ids.size() - 1; i >= 0; --i) {
            if (i >= firstRecent)
                versions.append(co_await m_ipatool.versionMetadata(adamID, ids.at(i)));
            else
                versions.append(AppVersion{ids.at(i), std::nullopt, std::nullopt});
        }
    } catch (const std::exception& error) {
        fail(QStringLiteral("Версии ") + name + QStringLiteral(": ") + AppError::describe(error));
        versions.clear();
    }
    storeVersions(adamID, versions);
    if (activity(adamID).kind == AppActivity::Kind::fetchingVersions)
        setActivity(adamID, AppActivity{});
    co_return versions;
}

std::optional<qint64> AppModel::parseAppID(const QString& text)
{
    const QString trimmed = text.trimmed();
    static const QRegularExpression whole(QStringLiteral(R"(^[+-]?[0-9]+$)"));
    if (!trimmed.isEmpty() && whole.match(trimmed).hasMatch()) {
        bool ok = false;
        const qint64 number = trimmed.toLongLong(&ok);
        if (ok)
            return number;
        // A whole number too long for an App ID is still searched for one below.
    }
    static const QRegularExpression afterId(QStringLiteral(R"(id([0-9]{6,}))"));
    static const QRegularExpression digits(QStringLiteral(R"([0-9]{6,})"));
    for (const auto& [expression, group] : {std::pair{&afterId, 1}, std::pair{&digits, 0}}) {
        const QRegularExpressionMatch match = expression->match(trimmed);
        if (!match.hasMatch())
            continue;
        bool ok = false;
        const qint64 number = match.captured(group).toLongLong(&ok);
        return ok ? std::optional(number) : std::nullopt;
    }
    return std::nullopt;
}

AppModel::Target AppModel::targetForAppID(qint64 appID) const
{
    for (const KnownApp& known : m_knownApps) {
        if (known.adamID == appID)
            return Target{appID, known.bundleID, known.name, true};
    }
    return Target{appID, {}, QStringLiteral("App ") + QString::number(appID), true};
}

void AppModel::setAppIDBusy(bool busy)
{
    assign(m_appIDBusy, busy, &AppModel::appIDBusyChanged);
}

void AppModel::setAppIDError(std::optional<QString> error)
{
    assign(m_appIDError, std::move(error), &AppModel::appIDErrorChanged);
}

void AppModel::clearAppIDError()
{
    setAppIDError(std::nullopt);
}

QCoro::Task<> AppModel::runAppID(QString text, bool install)
{
    const std::optional<qint64> appID = parseAppID(text);
    if (!appID) {
        setAppIDError(QStringLiteral("Не разобрал номер. Нужен App ID (например 564177498) или ссылка с id в адресе."));
        co_return;
    }
    setAppIDBusy(true);
    setAppIDError(std::nullopt);
    // An earlier run's outcome would otherwise pass for this one's.
    if (activity(*appID).isFinal())
        setActivity(*appID, {});
    const Target target = targetForAppID(*appID);
    bool failed = false;
    if (install) {
        co_await installOnDevice(target, std::nullopt);
        failed = activity(*appID).kind == AppActivity::Kind::failed;
    } else {
        failed = !co_await download(target, std::nullopt) && activity(*appID).kind == AppActivity::Kind::failed;
    }
    setAppIDBusy(false);
    // A failure stays in the sheet, where the user can read it and try again.
    if (failed)
        setAppIDError(activity(*appID).text);
    else
        Q_EMIT appIDFinished();
}
