#include "device/DeviceAppsReader.h"

#include "common/PlistRead.h"
#include "device/CfgUtil.h"
#include "device/CfgUtilError.h"
#include "device/IDeviceInstaller.h"
#include "device/NameOrder.h"
#include "process/ProcessRunner.h"
#include "process/Tools.h"

#include <QStringDecoder>

#include <plist/plist.h>

#include <limits>
#include <memory>

namespace {

bool isUtf8(const QByteArray& bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString ignored = decoder.decode(bytes);
    return !decoder.hasError();
}

CfgUtilError missingTool()
{
    return CfgUtilError::message(QStringLiteral("Чтобы узнать App ID приложений с телефона, нужен ideviceinstaller: ")
                                 + IDeviceInstaller::installHint());
}

// The shared translation, except that a tool which said nothing is named as itself.
CfgUtilError failure(const ProcessOutput& output)
{
    if (QString(output.standardError() + output.standardOutput()).trimmed().isEmpty())
        return CfgUtilError::message(QStringLiteral("ideviceinstaller завершился с кодом ")
                                     + QString::number(output.status));
    return CfgUtilError::message(CfgUtil::humanReadableFailure(output));
}

} // namespace

DeviceAppsReader::DeviceAppsReader(std::optional<std::chrono::milliseconds> watchdog)
    : m_watchdog(watchdog.value_or(ProcessRunner::defaultWatchdog()))
{}

QCoro::Task<QList<InstalledApp>> DeviceAppsReader::read(QString udid, bool network)
{
    const std::optional<QString> tool = Tools::ideviceinstaller();
    if (!tool)
        throw missingTool();
    co_return co_await readViaIDeviceInstaller(*tool, udid, network, m_watchdog);
}

QCoro::Task<QList<InstalledApp>> DeviceAppsReader::readViaIDeviceInstaller(QString tool, QString udid, bool network,
                                                                           std::chrono::milliseconds watchdog)
{
    const IDeviceInstaller::Syntax dialect = co_await IDeviceInstaller::syntax(tool);
    ProcessRunner::Options options;
    options.watchdog = watchdog;
    const ProcessOutput output =
        co_await ProcessRunner::run(tool, IDeviceInstaller::listArguments(dialect, udid, network), std::move(options));
    const QByteArray document = output.standardOutputBytes();
    if (output.status != 0 || !isUtf8(document))
        throw failure(output);
    QList<InstalledApp> apps = parseAppList(document);
    NameOrder::sort(apps);
    co_return apps;
}

QList<InstalledApp> DeviceAppsReader::parseAppList(const QByteArray& document)
{
    const PlistRead::Document root = PlistRead::parse(document);
    if (!root)
        throw CfgUtilError::message(QStringLiteral("Ответ ideviceinstaller не читается как property list"));
    const auto malformed = [] { return CfgUtilError::message(QStringLiteral("Не разобрал ответ ideviceinstaller")); };
    if (plist_get_node_type(root.get()) != PLIST_ARRAY)
        throw malformed();

    const uint32_t count = plist_array_get_size(root.get());
    QList<InstalledApp> apps;
    apps.reserve(count);
    for (uint32_t i = 0; i < count; ++i) {
        const plist_t entry = plist_array_get_item(root.get(), i);
        if (!entry || plist_get_node_type(entry) != PLIST_DICT)
            throw malformed();
        const std::optional<QString> bundleID = PlistRead::string(entry, "CFBundleIdentifier");
        if (!bundleID)
            continue;
        InstalledApp app;
        app.bundleID = *bundleID;
        app.name = PlistRead::string(entry, "CFBundleDisplayName").value_or(*bundleID);
        app.version = PlistRead::string(entry, "CFBundleShortVersionString");
        const plist_t metadata = plist_dict_get_item(entry, "iTunesMetadata");
        if (metadata && plist_get_node_type(metadata) == PLIST_DATA) {
            uint64_t length = 0;
            const char* bytes = plist_get_data_ptr(metadata, &length);
            if (bytes && length <= static_cast<uint64_t>(std::numeric_limits<qsizetype>::max()))
                app.adamID = adamIDFromMetadata(QByteArray::fromRawData(bytes, static_cast<qsizetype>(length)));
        }
        apps.append(std::move(app));
    }
    return apps;
}

std::optional<qint64> DeviceAppsReader::adamIDFromMetadata(const QByteArray& metadata)
{
    const PlistRead::Document root = PlistRead::parse(metadata);
    if (!root || plist_get_node_type(root.get()) != PLIST_DICT)
        return std::nullopt;
    const plist_t itemID = plist_dict_get_item(root.get(), "itemId");
    if (!itemID || plist_get_node_type(itemID) != PLIST_UINT)
        return std::nullopt;
    uint64_t value = 0;
    plist_get_uint_val(itemID, &value);
    // libplist keeps negative integers as their two's complement.
    return static_cast<qint64>(value);
}
