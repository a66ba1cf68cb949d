#include "model/AppModel.h"

#include "common/AppError.h"
#include "device/CfgUtilError.h"
#include "process/ToolError.h"

#include <QFileInfo>

#include <memory>

QCoro::Task<> AppModel::installOnDevice(PurchasedApp app, std::optional<AppVersion> version)
{
    co_await installOnDevice(Target::from(app), std::move(version));
}

QCoro::Task<> AppModel::installOnDevice(Target target, std::optional<AppVersion> version)
{
    const std::optional<Device> device = selectedDevice();
    if (!device) {
        setAlert(CfgUtilError(CfgUtilError::Kind::noDevice).description());
        co_return;
    }
    // One install of an app at a time: a second request while the first runs would only race it.
    const std::optional<Operations::Ticket> ticket =
        m_operations.begin(Operations::installKey(target.adamID), target.adamID);
    if (!ticket) {
        note(target.name + QStringLiteral(": уже ставится"));
        co_return;
    }
    const std::optional<QString> file = co_await download(target, std::move(version));
    if (!file || !co_await fitsDevice(*file, *device, target))
        co_return;

    const qint64 appID = target.adamID;
    setActivity(appID, AppActivity::installing(0, QStringLiteral("Передаю на ") + device->name));
    // Reports stop counting once the install has returned, so the final state always wins.
    auto finished = std::make_shared<bool>(false);
    QPointer<AppModel> self(this);
    const CfgUtil::ProgressHandler onProgress = [self, appID, finished](double fraction, const QString& step) {
        if (self && !*finished)
            self->setActivity(appID, AppActivity::installing(fraction, step));
    };
    try {
        const QString installer = co_await install(*file, *device, onProgress, ticket->cancel());
        *finished = true;
        setActivity(appID, AppActivity::done(QStringLiteral("Установлено")));
        note(target.name + QStringLiteral(" установлено на ") + device->name + QStringLiteral(" (") + installer
             + QStringLiteral(")"));
    } catch (const std::exception& error) {
        *finished = true;
        if (isCancellation(error)) {
            setActivity(appID, {});
            note(target.name + QStringLiteral(": установка отменена"));
            co_return;
        }
        const QString failure = AppError::describe(error, QStringLiteral("Установка не удалась"));
        setActivity(appID, AppActivity::failed(failure));
        fail(target.name + QStringLiteral(": ") + failure);
        logToolDetail(error);
    }
}

bool AppModel::isCancellation(const std::exception& error)
{
    const auto* tool = dynamic_cast<const ToolError*>(&error);
    return tool && tool->kind() == ToolError::Kind::cancelled;
}

void AppModel::logToolDetail(const std::exception& error)
{
    // The user reads the advice; the tool's own words are kept for whoever reads the log.
    if (const auto* device = dynamic_cast<const CfgUtilError*>(&error); device && !device->detail().isEmpty())
        note(device->detail());
}

void AppModel::cancel(qint64 appID)
{
    m_operations.cancelApp(appID);
}

QCoro::Task<> AppModel::installLocalFile(QString path)
{
    const std::optional<Device> device = selectedDevice();
    if (!device) {
        setAlert(CfgUtilError(CfgUtilError::Kind::noDevice).description());
        co_return;
    }
    if (!co_await fitsDevice(path, *device, std::nullopt))
        co_return;
    const QString fileName = QFileInfo(path).fileName();
    note(QStringLiteral("Ставлю ") + fileName + QStringLiteral(" на ") + device->name + QStringLiteral("…"));
    try {
        const QString installer = co_await install(
            path, *device, [](double, const QString&) {}, std::nullopt);
        note(fileName + QStringLiteral(": установлено (") + installer + QStringLiteral(")"));
    } catch (const std::exception& error) {
        fail(fileName + QStringLiteral(": ") + AppError::describe(error, QStringLiteral("Установка не удалась")));
        logToolDetail(error);
    }
}

QCoro::Task<QString> AppModel::install(QString ipa, Device device, CfgUtil::ProgressHandler onProgress,
                                       std::optional<CancelHandle> cancel)
{
    const bool network = device.link == Device::Link::wifi;
    // A file gone since it was chosen or downloaded is named as such, not left to a tool's guess.
    if (!QFileInfo(ipa).isFile())
        throw CfgUtilError::message(QStringLiteral("Файл не найден: ") + ipa);
    if (device.canUseCfgutil()) {
        std::optional<QString> cfgutilFailure;
        try {
            co_await m_cfgutil.install(ipa, *device.ecid, onProgress, cancel);
            co_return QStringLiteral("cfgutil");
        } catch (const std::exception& error) {
            if (!IDeviceInstaller::isAvailable() || !device.udid || isCancellation(error))
                throw;
            cfgutilFailure = AppError::describe(error);
        }
        note(QStringLiteral("cfgutil не смог (") + *cfgutilFailure + QStringLiteral("), пробую ideviceinstaller…"));
        co_await m_fallbackInstaller.install(ipa, *device.udid, network, onProgress, cancel);
        co_return QStringLiteral("ideviceinstaller");
    }
    if (device.udid) {
        if (!IDeviceInstaller::isAvailable())
            throw CfgUtilError::message(QStringLiteral("Телефон виден только по Wi-Fi. Подключи кабелем или ")
                                        + IDeviceInstaller::installHint());
        co_await m_fallbackInstaller.install(ipa, *device.udid, network, onProgress, cancel);
        co_return QStringLiteral("ideviceinstaller, ") + Device::label(device.link);
    }
    throw CfgUtilError(CfgUtilError::Kind::noDevice);
}
