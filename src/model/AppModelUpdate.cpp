#include "model/AppModel.h"

#include "common/AppError.h"
#include "platform/Platform.h"

#include <QDateTime>
#include <QSettings>

namespace {

const QString lastCheckKey = QStringLiteral("lastUpdateCheck");

double secondsSince1970()
{
    return static_cast<double>(QDateTime::currentMSecsSinceEpoch()) / 1000.0;
}

// The day's automatic check is taken before it runs, so a failing server is asked once a day at most.
bool takeDailyCheck(double interval)
{
    const auto preferences = Platform::preferences();
    const double now = secondsSince1970();
    if (now - preferences->value(lastCheckKey, 0.0).toDouble() < interval)
        return false;
    preferences->setValue(lastCheckKey, now);
    return true;
}

QString availableText(const UpdateInfo& info)
{
    return QStringLiteral("Доступно обновление: версия ") + info.version;
}

QString upToDateText(const QString& versionText)
{
    return QStringLiteral("Обновлений нет, ") + versionText;
}

QString checkFailedText(const QString& description)
{
    return QStringLiteral("Проверка обновлений: ") + description;
}

QString downloadingText(const UpdateInfo& info)
{
    return QStringLiteral("Скачиваю версию ") + info.version + QStringLiteral("…");
}

QString updateFailedText(const QString& description)
{
    return QStringLiteral("Обновление: ") + description;
}

QString verifiedText()
{
    return QStringLiteral("Контрольная сумма сошлась, подменяю приложение и перезапускаюсь");
}

AppModel::UpdateState stateOf(AppModel::UpdateState::Kind kind)
{
    AppModel::UpdateState state;
    state.kind = kind;
    return state;
}

} // namespace

void AppModel::setUpdateState(UpdateState state)
{
    assign(m_updateState, std::move(state), &AppModel::updateStateChanged);
}

void AppModel::setUpdateInfo(std::optional<UpdateInfo> info)
{
    assign(m_updateInfo, std::move(info), &AppModel::updateInfoChanged);
}

QString AppModel::appVersionText() const
{
    return QStringLiteral("версия ") + m_updater.currentVersion() + QStringLiteral(" (")
           + QString::number(m_updater.currentBuild()) + QLatin1Char(')');
}

QCoro::Task<> AppModel::checkForUpdates(bool manual)
{
    // The offer being installed stays what the banner shows; a check now could only offer it again.
    if (isUpdating())
        co_return;
    if (!manual && !takeDailyCheck(updateCheckIntervalSeconds))
        co_return;
    setUpdateState(stateOf(UpdateState::Kind::checking));

    std::optional<UpdateInfo> found;
    std::optional<QString> failure;
    try {
        found = co_await m_updater.checkForUpdate();
    } catch (const std::exception& error) {
        failure = AppError::describe(error);
    }

    if (failure) {
        if (manual) {
            setUpdateState(UpdateState::failed(*failure));
            fail(checkFailedText(*failure));
        } else {
            setUpdateState(stateOf(UpdateState::Kind::idle));
        }
    } else if (found) {
        setUpdateInfo(found);
        setUpdateState(stateOf(UpdateState::Kind::available));
        note(availableText(*found));
    } else {
        setUpdateInfo(std::nullopt);
        setUpdateState(stateOf(manual ? UpdateState::Kind::upToDate : UpdateState::Kind::idle));
        if (manual)
            note(upToDateText(appVersionText()));
    }
}

bool AppModel::isUpdating() const
{
    return m_operations.isRunning(Operations::updateKey()) || m_updateState.kind == UpdateState::Kind::downloading
           || m_updateState.kind == UpdateState::Kind::installing;
}

QCoro::Task<> AppModel::installUpdate()
{
    if (!m_updateInfo)
        co_return;
    const std::optional<Operations::Ticket> ticket = m_operations.begin(Operations::updateKey());
    if (!ticket)
        co_return;
    const UpdateInfo info = *m_updateInfo;
    setUpdateState(UpdateState::downloading(0));
    note(downloadingText(info));

    // Progress lands a moment later on the interface thread; by then the download may have ended.
    const quint64 download = ++m_updateDownload;
    const QPointer<AppModel> model(this);
    const auto onProgress = [model, download](double fraction) {
        QMetaObject::invokeMethod(
            model.data(),
            [model, download, fraction] {
                if (model && model->m_updateDownload == download)
                    model->setUpdateState(UpdateState::downloading(fraction));
            },
            Qt::QueuedConnection);
    };

    std::optional<QString> newApp;
    std::optional<QString> failure;
    try {
        newApp = co_await m_updater.download(info, onProgress);
    } catch (const std::exception& error) {
        failure = AppError::describe(error);
    }
    ++m_updateDownload;

    if (!failure) {
        setUpdateState(stateOf(UpdateState::Kind::installing));
        note(verifiedText());
        try {
            m_updater.installAndRestart(*newApp);
            co_return;
        } catch (const std::exception& error) {
            failure = AppError::describe(error);
        }
    }
    setUpdateState(UpdateState::failed(*failure));
    fail(updateFailedText(*failure));
}

void AppModel::dismissUpdateResult()
{
    if (m_updateState.kind != UpdateState::Kind::failed && m_updateState.kind != UpdateState::Kind::upToDate)
        return;
    setUpdateState(stateOf(m_updateInfo ? UpdateState::Kind::available : UpdateState::Kind::idle));
}
