#include "model/AppModel.h"

#include "process/Tools.h"
#include "store/IPAToolError.h"

AppModel::AppModel(QObject* parent)
    : QObject(parent)
{
}

AppModel::~AppModel() = default;

void AppModel::setSearch(QString search) { assign(m_search, std::move(search), &AppModel::searchChanged); }

void AppModel::setShowOnlyGone(bool showOnlyGone)
{
    assign(m_showOnlyGone, showOnlyGone, &AppModel::showOnlyGoneChanged);
}

void AppModel::setSelectedDeviceID(std::optional<QString> id)
{
    assign(m_selectedDeviceID, std::move(id), &AppModel::selectedDeviceIDChanged);
}

void AppModel::setAlert(std::optional<QString> alert) { assign(m_alert, std::move(alert), &AppModel::alertChanged); }

void AppModel::setStage(Stage stage) { assign(m_stage, stage, &AppModel::stageChanged); }

void AppModel::setSyncProgress(std::optional<double> progress)
{
    assign(m_syncProgress, progress, &AppModel::syncProgressChanged);
}

void AppModel::setSyncStatus(QString status) { assign(m_syncStatus, std::move(status), &AppModel::syncStatusChanged); }

void AppModel::setLastSync(std::optional<QDateTime> date) { assign(m_lastSync, std::move(date), &AppModel::lastSyncChanged); }

void AppModel::setDeviceError(std::optional<QString> error)
{
    assign(m_deviceError, std::move(error), &AppModel::deviceErrorChanged);
}

void AppModel::setDownloadedBundleIDs(QSet<QString> ids)
{
    assign(m_downloadedBundleIDs, std::move(ids), &AppModel::downloadedBundleIDsChanged);
}

void AppModel::setInstalledAppsError(std::optional<QString> error)
{
    assign(m_installedAppsError, std::move(error), &AppModel::installedAppsErrorChanged);
}

void AppModel::setLoadingInstalledApps(bool loading)
{
    assign(m_loadingInstalledApps, loading, &AppModel::loadingInstalledAppsChanged);
}

void AppModel::note(const QString& text) { appendLog(text, false); }

void AppModel::fail(const QString& text) { appendLog(text, true); }

void AppModel::appendLog(const QString& text, bool isError)
{
    m_log.append(LogEntry{QUuid::createUuid(), QDateTime::currentDateTime(), text, isError});
    trimLog();
    Q_EMIT logChanged();
}

void AppModel::trimLog()
{
    if (m_log.size() > logLimit)
        m_log.remove(0, m_log.size() - logLimit);
}

QCoro::Task<> AppModel::bootstrap()
{
    const auto ipatool = Tools::ipatool();
    note(QStringLiteral("ipatool: ") + ipatool.value_or(QStringLiteral("не найден")));
    note(QStringLiteral("cfgutil: ") + Tools::cfgutil().value_or(QStringLiteral("не найден — поставь Apple Configurator")));

    if (!ipatool) {
        setStage(Stage::signedOut);
        setAlert(IPAToolError(IPAToolError::Kind::notInstalled).description());
        co_return;
    }
}
