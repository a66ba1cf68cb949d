#include "model/AppModel.h"

#include "common/AppError.h"
#include "common/RussianText.h"
#include "device/CfgUtilError.h"
#include "platform/Platform.h"
#include "process/Tools.h"

namespace {

QString noMuxTools()
{
    return QStringLiteral("Не найден idevice_id — поставь пакеты libimobiledevice-utils и usbmuxd "
                          "(sudo apt install libimobiledevice-utils usbmuxd)");
}

QStringList ids(const QList<Device>& devices)
{
    QStringList result;
    result.reserve(devices.size());
    for (const Device& device : devices)
        result.append(device.id());
    return result;
}

} // namespace

std::optional<Device> AppModel::selectedDevice() const
{
    if (m_devices.isEmpty())
        return std::nullopt;
    if (m_selectedDeviceID) {
        for (const Device& device : m_devices) {
            if (device.id() == *m_selectedDeviceID)
                return device;
        }
    }
    return m_devices.first();
}

struct AppModel::WatchPause {
    AppModel* model;

    bool await_ready() const { return false; }
    void await_suspend(std::coroutine_handle<> handle) const
    {
        model->m_watchWaiter = handle;
        model->m_watchTimer.start();
    }
    void await_resume() const {}
};

void AppModel::startDeviceWatch()
{
    stopDeviceWatch();
    m_watchRunning = true;
    watchDevices(QPointer<AppModel>(this), m_watchGeneration);
}

void AppModel::stopDeviceWatch()
{
    ++m_watchGeneration;
    m_watchRunning = false;
    m_watchTimer.stop();
    if (m_watchWaiter)
        std::exchange(m_watchWaiter, {}).resume();
}

QCoro::Task<> AppModel::watchDevices(QPointer<AppModel> model, quint64 generation)
{
    // Held weakly: a pass still running when the model goes must end quietly. A stopped or
    // restarted watch leaves its old loop at the next turn.
    ++model->m_watchLoops;
    while (model && model->m_watchGeneration == generation) {
        co_await model->refreshDevices();
        if (!model || model->m_watchGeneration != generation)
            break;
        co_await WatchPause{model.data()};
    }
    if (model)
        --model->m_watchLoops;
}

QCoro::Task<> AppModel::refreshDevices(bool askAgain)
{
    QPointer<AppModel> self(this);
    if (askAgain)
        m_muxDiscovery.askAgain();
    QList<Device> found;
    QStringList messages;
    if (Tools::cfgutil()) {
        try {
            found = co_await m_cfgutil.devices();
        } catch (const std::exception& error) {
            messages.append(AppError::describe(error));
        }
        if (!self)
            co_return;
    } else if (!Platform::isLinux()) {
        // Elsewhere than on a Mac a missing cfgutil is normal: ideviceinstaller is the installer.
        messages.append(CfgUtilError(CfgUtilError::Kind::notInstalled).description());
    }

    if (MuxDiscovery::isAvailable()) {
        try {
            const QList<Device> discovered = co_await m_muxDiscovery.devices();
            if (!self)
                co_return;
            QSet<QString> known;
            for (const Device& device : std::as_const(found)) {
                if (device.udid)
                    known.insert(*device.udid);
            }
            for (const Device& device : discovered) {
                if (!known.contains(device.udid.value_or(QString())))
                    found.append(device);
            }
        } catch (const CfgUtilError& error) {
            // No mux daemon answers: the one reason for an empty list worth telling apart.
            messages.append(error.description());
        } catch (...) {
            // idevice_id and ideviceinfo are only a second opinion.
        }
        if (!self)
            co_return;
    } else if (Platform::isLinux()) {
        messages.append(noMuxTools());
    }

    std::optional<QString> error;
    if (found.isEmpty()) {
        for (const QString& message : std::as_const(messages)) {
            if (!message.isEmpty()) {
                error = message;
                break;
            }
        }
    }
    setDeviceError(error);

    if (ids(found) == ids(m_devices)) {
        // The same phones, but one may have been trusted, unlocked or read fully since: no new
        // "Подключено" line, yet the bar shows it and the chosen phone's apps are read once it is ready.
        const std::optional<Device> before = selectedDevice();
        setDevices(found);
        const std::optional<Device> after = selectedDevice();
        if (before && after && !before->isReady() && after->isReady() && !m_loadingInstalledApps)
            loadInstalledApps(); // runs on by itself; the model catches everything there
        co_return;
    }
    setDevices(found);
    const QStringList foundIDs = ids(found);
    if (!m_selectedDeviceID || !foundIDs.contains(*m_selectedDeviceID))
        setSelectedDeviceID(found.isEmpty() ? std::nullopt : std::optional(found.first().id()));
    followSelectedDevice();
    if (found.isEmpty()) {
        setInstalledApps({});
        co_return;
    }
    note(QStringLiteral("Подключено: ") + found.first().name + QStringLiteral(" — ") + found.first().subtitle());
    if (m_installedApps.isEmpty() && !m_loadingInstalledApps)
        loadInstalledApps(); // runs on by itself; the model catches everything there
}

void AppModel::followSelectedDevice()
{
    const std::optional<Device> device = selectedDevice();
    std::optional<QString> id = device ? std::optional(device->id()) : std::nullopt;
    if (id == m_appsDeviceID)
        return;
    // The list, its error and any read under way all belong to the phone left behind.
    ++m_appsRead;
    m_appsDeviceID = std::move(id);
    setInstalledApps({});
    setInstalledAppsError(std::nullopt);
    setLoadingInstalledApps(false);
    if (device)
        loadInstalledApps(); // runs on by itself; the model catches everything there
}

QCoro::Task<> AppModel::loadInstalledApps()
{
    const std::optional<Device> device = selectedDevice();
    if (!device || !device->udid) {
        setInstalledAppsError(CfgUtilError(CfgUtilError::Kind::noDevice).description());
        co_return;
    }
    // Asking an untrusted phone would only put its trust dialog up once more; the watch reads it
    // once it is ready.
    if (!device->isReady()) {
        setInstalledAppsError(device->accessHint());
        co_return;
    }
    QPointer<AppModel> self(this);
    const quint64 read = ++m_appsRead;
    ++m_appsReadsRunning;
    setLoadingInstalledApps(true);
    setInstalledAppsError(std::nullopt);
    std::optional<QList<InstalledApp>> apps;
    QString failure;
    try {
        apps = co_await m_deviceApps.read(*device->udid, device->link == Device::Link::wifi);
    } catch (const std::exception& error) {
        failure = AppError::describe(error, QStringLiteral("Не удалось прочитать приложения с iPhone"));
    }
    if (!self)
        co_return;
    --m_appsReadsRunning;
    // Another phone was chosen, or a newer read began, while this one ran: its answer is not wanted.
    if (m_appsRead != read)
        co_return;
    if (apps) {
        setInstalledApps(*apps);
        const auto withID =
            std::count_if(apps->cbegin(), apps->cend(), [](const InstalledApp& app) { return app.adamID.has_value(); });
        note(QStringLiteral("С ") + device->name + QStringLiteral(" прочитано ") + RussianText::apps(apps->size())
             + QStringLiteral(", из них с App ID — ") + QString::number(withID));
        QList<KnownApp> learned;
        const QDateTime now = QDateTime::currentDateTime();
        for (const InstalledApp& app : std::as_const(*apps)) {
            if (app.adamID)
                learned.append(KnownApp{*app.adamID, app.bundleID, app.name, KnownApp::deviceSource(), now});
        }
        m_knownStore.merge(learned);
        setKnownApps(m_knownStore.all());
    } else {
        setInstalledAppsError(failure);
        fail(QStringLiteral("Список приложений с телефона: ") + failure);
    }
    setLoadingInstalledApps(false);
}

void AppModel::rememberKnown(qint64 appID, QString bundleID, QString name, QString source)
{
    if (bundleID.isEmpty())
        return;
    m_knownStore.merge(
        {KnownApp{appID, std::move(bundleID), std::move(name), std::move(source), QDateTime::currentDateTime()}});
    setKnownApps(m_knownStore.all());
}

void AppModel::rememberKnown(const Target& target, QString source)
{
    rememberKnown(target.adamID, target.bundleID, target.name, std::move(source));
}
