#include "FuzzTargets.h"

#include "archive/ArchiveQueue.h"
#include "archive/DelistingRadar.h"
#include "common/JsonWriter.h"
#include "common/PlistRead.h"
#include "device/CfgUtil.h"
#include "device/DeviceAppsReader.h"
#include "device/IDeviceInstaller.h"
#include "device/KnownAppsStore.h"
#include "device/MuxDiscovery.h"
#include "model/AppModel.h"
#include "process/OutputCollector.h"
#include "store/ArtworkService.h"
#include "store/IPATool.h"
#include "store/PurchasesCache.h"
#include "update/UpdateInfo.h"
#include "update/Updater.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdlib>
#include <exception>

namespace FuzzTargets {
namespace {

QString text(const QByteArray& bytes)
{
    return QString::fromUtf8(bytes);
}

// Parsers may refuse with an exception; anything else escaping is a finding.
template <typename Step>
void refusing(Step step)
{
    try {
        step();
    } catch (const std::exception&) {
    }
}

void write(JsonWriter& writer, const QJsonValue& value)
{
    switch (value.type()) {
    case QJsonValue::Object: {
        writer.beginObject();
        const QJsonObject object = value.toObject();
        for (auto it = object.begin(); it != object.end(); ++it) {
            writer.key(it.key());
            write(writer, it.value());
        }
        writer.endObject();
        break;
    }
    case QJsonValue::Array:
        writer.beginArray();
        for (const QJsonValue& item : value.toArray())
            write(writer, item);
        writer.endArray();
        break;
    case QJsonValue::String:
        writer.value(value.toString());
        break;
    case QJsonValue::Double:
        if (value.toVariant().typeId() == QMetaType::LongLong)
            writer.value(value.toInteger());
        else
            writer.value(value.toDouble());
        break;
    case QJsonValue::Bool:
        writer.value(value.toBool());
        break;
    default:
        writer.null();
        break;
    }
}

} // namespace

void ipatoolAnswer(const QByteArray& bytes)
{
    const QStringList lines = text(bytes).split(QLatin1Char('\n'));
    const std::optional<QJsonObject> answer = IPATool::pickAnswer(lines);
    if (answer) {
        refusing([&] { IPATool::purchasesFrom(*answer); });
        IPATool::accountFrom(answer);
    }
    IPATool::errorFor(text(bytes));
    IPATool::parseVersion(text(bytes));
    IPATool::parseDate(text(bytes));
}

void lookupAnswer(const QByteArray& bytes)
{
    ArtworkService::parseResults(bytes, QDateTime::fromSecsSinceEpoch(1'700'000'000));
    ArtworkService::parseBundleResults(bytes);
}

void cacheFiles(const QByteArray& bytes)
{
    PurchasesCache::decode(bytes);
    ArtworkService::decode(bytes);
    KnownAppsStore::decode(bytes);
    ArchiveQueue::decode(bytes);
    DelistingRadar::decode(bytes);
}

void phoneListing(const QByteArray& bytes)
{
    refusing([&] { DeviceAppsReader::parseAppList(bytes); });
    DeviceAppsReader::adamIDFromMetadata(bytes);
}

void cfgutilOutput(const QByteArray& bytes)
{
    for (const QString& line : text(bytes).split(QLatin1Char('\n')))
        CfgUtil::parseProgress(line);
    CfgUtil::adviceFor(text(bytes));
    const QJsonDocument document = QJsonDocument::fromJson(bytes);
    CfgUtil::deviceFrom(QStringLiteral("0x1"),
                        document.isObject() ? std::optional<QJsonObject>(document.object()) : std::nullopt);
}

void muxOutput(const QByteArray& bytes)
{
    MuxDiscovery::parseListing(text(bytes));
    MuxDiscovery::parseInfo(text(bytes));
}

void updateManifest(const QByteArray& bytes)
{
    UpdateInfo::fromManifest(bytes);
    UpdateInfo::parseDate(text(bytes));
    Updater::parseBuild(text(bytes));
}

void propertyList(const QByteArray& bytes)
{
    if (const auto dictionary = PlistRead::dictionary(bytes)) {
        PlistRead::string(dictionary->get(), "CFBundleIdentifier");
        PlistRead::string(dictionary->get(), "CFBundleShortVersionString");
    }
}

void appID(const QByteArray& bytes)
{
    AppModel::parseAppID(text(bytes));
}

void lineCutting(const QByteArray& bytes)
{
    // The first byte says where the chunks break, as a pipe would deliver them.
    if (bytes.isEmpty())
        return;
    const qsizetype step = 1 + static_cast<quint8>(bytes[0]) % 64;
    qsizetype lines = 0;
    OutputCollector collector([&](const QString&) { ++lines; });
    for (qsizetype at = 1; at < bytes.size(); at += step)
        collector.append(bytes.mid(at, step), at % 3 ? OutputCollector::Stream::out : OutputCollector::Stream::err);
    collector.flush();
    const ProcessOutput output = collector.result(0);
    if (output.lines().size() != lines)
        std::abort();
    output.standardOutput();
    output.standardError();
}

void jsonRoundTrip(const QByteArray& bytes)
{
    const QJsonDocument document = QJsonDocument::fromJson(bytes);
    if (document.isNull())
        return;
    JsonWriter writer;
    write(writer, document.isObject() ? QJsonValue(document.object()) : QJsonValue(document.array()));
    const QJsonDocument again = QJsonDocument::fromJson(writer.take());
    if (again != document)
        std::abort();
}

void installerOutput(const QByteArray& bytes)
{
    IDeviceInstaller::syntaxFromHelp(text(bytes));
    for (const QString& line : text(bytes).split(QLatin1Char('\n')))
        IDeviceInstaller::stepName(line);
}

} // namespace FuzzTargets
