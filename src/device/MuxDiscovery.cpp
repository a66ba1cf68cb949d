#include "device/MuxDiscovery.h"

#include "common/AppError.h"
#include "process/ProcessRunner.h"
#include "process/Tools.h"

#include <QSet>

#include <algorithm>

namespace {

QString trimmedHorizontally(const QString& text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    const auto blank = [](QChar c) { return c == QLatin1Char(' ') || c == QLatin1Char('\t'); };
    while (begin < end && blank(text.at(begin)))
        ++begin;
    while (end > begin && blank(text.at(end - 1)))
        --end;
    return text.mid(begin, end - begin);
}

// GCC 12 cannot compile QStringLiteral inside a coroutine body, so texts are built here.
QStringList infoKeys()
{
    return {QStringLiteral("DeviceName"), QStringLiteral("ProductType"), QStringLiteral("ProductVersion")};
}

QStringList infoArguments(const QString& udid, const QString& key)
{
    return {QStringLiteral("-u"), udid, QStringLiteral("-k"), key};
}

void fill(Device& device, const QHash<QString, QString>& values)
{
    if (const auto name = values.constFind(QStringLiteral("DeviceName")); name != values.cend())
        device.name = *name;
    if (const auto model = values.constFind(QStringLiteral("ProductType")); model != values.cend())
        device.model = *model;
    if (const auto version = values.constFind(QStringLiteral("ProductVersion")); version != values.cend())
        device.iosVersion = *version;
}

} // namespace

bool MuxDiscovery::isAvailable()
{
    return Tools::ideviceID().has_value();
}

QStringList MuxDiscovery::parseUdids(const QString& output)
{
    QStringList result;
    for (const QString& piece : output.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QString udid = trimmedHorizontally(piece);
        if (!udid.isEmpty())
            result.append(udid);
    }
    return result;
}

QCoro::Task<QList<Device>> MuxDiscovery::devices()
{
    const std::optional<QString> tool = Tools::ideviceID();
    if (!tool)
        co_return QList<Device>();
    const QStringList cable = co_await udids(*tool, QString(QLatin1String("-l")));
    const QStringList network = co_await udids(*tool, QString(QLatin1String("-n")));

    // The model compares device lists in order every few seconds, so an unchanged set of phones
    // must come back in the same order: sorted, not in hash order.
    const QSet<QString> cableSet(cable.cbegin(), cable.cend());
    QSet<QString> all = cableSet;
    all.unite(QSet<QString>(network.cbegin(), network.cend()));
    QStringList ordered(all.cbegin(), all.cend());
    std::sort(ordered.begin(), ordered.end());

    QList<Device> result;
    for (const QString& udid : std::as_const(ordered)) {
        Device device;
        device.udid = udid;
        device.name = udid;
        device.link = cableSet.contains(udid) ? Device::Link::usb : Device::Link::wifi;
        QHash<QString, QString> values;
        try {
            values = co_await info(udid);
        } catch (const AppError&) {
            // ideviceinfo that cannot start leaves the phone named by its UDID.
            values.clear();
        }
        fill(device, values);
        result.append(device);
    }
    co_return result;
}

QCoro::Task<QStringList> MuxDiscovery::udids(QString tool, QString flag)
{
    const ProcessOutput output = co_await ProcessRunner::run(tool, QStringList(flag));
    if (output.status != 0)
        co_return QStringList();
    co_return parseUdids(output.standardOutput());
}

QCoro::Task<QHash<QString, QString>> MuxDiscovery::info(QString udid)
{
    QHash<QString, QString> values;
    const std::optional<QString> tool = Tools::ideviceinfo();
    if (!tool)
        co_return values;
    for (const QString& key : infoKeys()) {
        const ProcessOutput output = co_await ProcessRunner::run(*tool, infoArguments(udid, key));
        if (output.status != 0)
            continue;
        const QString value = output.standardOutput().trimmed();
        if (!value.isEmpty())
            values.insert(key, value);
    }
    co_return values;
}
