#include "device/MuxDiscovery.h"

#include "common/AppError.h"
#include "device/CfgUtilError.h"
#include "platform/Platform.h"
#include "process/ProcessRunner.h"
#include "process/Tools.h"

#include <QDeadlineTimer>
#include <QMap>
#include <QRegularExpression>
#include <QSet>

struct MuxDiscovery::Known {
    Device device;
    // Set while something is still to learn: the phone is asked again once it expires.
    std::optional<QDeadlineTimer> recheck;

    bool isDue() const { return recheck && recheck->hasExpired(); }
};

namespace {

QString trimmedHorizontally(const QString& text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    const auto blank = [](QChar c) {
        return c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\r');
    };
    while (begin < end && blank(text.at(begin)))
        ++begin;
    while (end > begin && blank(text.at(end - 1)))
        --end;
    return text.mid(begin, end - begin);
}

ProcessRunner::Options options(std::chrono::milliseconds watchdog)
{
    ProcessRunner::Options result;
    result.watchdog = watchdog;
    return result;
}

// GCC 12 cannot compile QStringLiteral inside a coroutine body, so texts are built here.
// Without -n the tools look for the phone on the cable only; -s asks without a session, which a
// phone answers even when it does not trust this computer.
QStringList infoArguments(const QString& udid, bool network, bool withoutSession)
{
    QStringList arguments{QStringLiteral("-u"), udid};
    if (network)
        arguments.append(QStringLiteral("-n"));
    if (withoutSession)
        arguments.append(QStringLiteral("-s"));
    return arguments;
}

bool saysNoDaemon(const ProcessOutput& output)
{
    return Platform::isLinux() && output.standardError().contains(QLatin1String("Unable to retrieve device list"));
}

// On Linux the mux daemon comes in its own package and is started by udev when a phone is plugged in.
CfgUtilError noDaemon(const ProcessOutput& output)
{
    const QString said = output.standardError().trimmed();
    if (!Tools::usbmuxd())
        return CfgUtilError::message(
            QStringLiteral("Не установлен usbmuxd — без него iPhone не виден. Поставь пакет usbmuxd "
                           "(sudo apt install usbmuxd)"),
            said);
    return CfgUtilError::message(
        QStringLiteral("usbmuxd не запущен — подключи iPhone кабелем: служба запускается вместе с ним"), said);
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

QString said(const ProcessOutput& output)
{
    return output.standardError() + QLatin1Char('\n') + output.standardOutput();
}

} // namespace

MuxDiscovery::MuxDiscovery(std::optional<std::chrono::milliseconds> watchdog)
    : m_known(std::make_shared<Cache>())
    , m_watchdog(watchdog.value_or(ProcessRunner::defaultWatchdog()))
{}

bool MuxDiscovery::isAvailable()
{
    return Tools::ideviceID().has_value();
}

QList<MuxDiscovery::Listed> MuxDiscovery::parseListing(const QString& output)
{
    static const QRegularExpression line(QStringLiteral(R"(^(\S+)(?:\s+\((USB|Network)\))?$)"));
    QMap<QString, Device::Link> phones;
    for (const QString& piece : output.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QRegularExpressionMatch match = line.match(trimmedHorizontally(piece));
        if (!match.hasMatch())
            continue;
        const Device::Link link =
            match.captured(2) == QLatin1String("Network") ? Device::Link::wifi : Device::Link::usb;
        auto known = phones.find(match.captured(1));
        if (known == phones.end())
            phones.insert(match.captured(1), link);
        else if (link == Device::Link::usb)
            *known = link;
    }
    QList<Listed> result;
    result.reserve(phones.size());
    for (auto it = phones.cbegin(); it != phones.cend(); ++it)
        result.append({it.key(), it.value()});
    return result;
}

QHash<QString, QString> MuxDiscovery::parseInfo(const QString& output)
{
    QHash<QString, QString> values;
    for (const QString& line : output.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        // Nested values are indented under their key; only the top level is wanted.
        if (line.isEmpty() || line.front().isSpace())
            continue;
        const qsizetype colon = line.indexOf(QLatin1String(": "));
        if (colon <= 0 || line.left(colon).contains(QLatin1Char(' ')))
            continue;
        const QString value = line.mid(colon + 2).trimmed();
        if (!value.isEmpty())
            values.insert(line.left(colon), value);
    }
    return values;
}

void MuxDiscovery::applyRefusal(Device& device, const QString& said)
{
    const QString lower = said.toLower();
    if (lower.contains(QLatin1String("password protected"))) {
        device.isLocked = true;
        device.isPaired = false;
        return;
    }
    for (const char* reason : {"pairing dialog response pending", "user denied pairing", "invalid hostid"}) {
        if (lower.contains(QLatin1String(reason))) {
            device.isPaired = false;
            return;
        }
    }
}

void MuxDiscovery::askAgain()
{
    for (Known& phone : *m_known) {
        if (phone.recheck)
            phone.recheck = QDeadlineTimer(0);
    }
}

QCoro::Task<QList<Device>> MuxDiscovery::devices()
{
    const std::optional<QString> tool = Tools::ideviceID();
    if (!tool)
        co_return QList<Device>();
    const std::shared_ptr<Cache> known = m_known;
    const std::chrono::milliseconds watchdog = m_watchdog;

    // One run lists both links: "UDID (USB)" and "UDID (Network)".
    const ProcessOutput listing = co_await ProcessRunner::run(*tool, QStringList(), options(watchdog));
    if (listing.status != 0) {
        if (saysNoDaemon(listing))
            throw noDaemon(listing);
        co_return QList<Device>();
    }
    const QList<Listed> listed = parseListing(listing.standardOutput());

    // A phone that left is read afresh when it comes back: it may have been renamed, updated or
    // trusted meanwhile.
    QSet<QString> present;
    for (const Listed& phone : listed)
        present.insert(phone.udid);
    known->removeIf([&present](const Cache::iterator& entry) { return !present.contains(entry.key()); });

    QList<Device> result;
    for (const Listed& phone : listed) {
        const auto found = known->constFind(phone.udid);
        if (found == known->cend() || found->isDue())
            known->insert(phone.udid, co_await describe(phone.udid, phone.link, watchdog));
        Device device = known->value(phone.udid).device;
        device.link = phone.link;
        result.append(device);
    }
    co_return result;
}

QCoro::Task<MuxDiscovery::Known> MuxDiscovery::describe(QString udid, Device::Link link,
                                                        std::chrono::milliseconds watchdog)
{
    Known result;
    result.device.udid = udid;
    result.device.name = udid;
    result.device.link = link;
    const std::optional<QString> tool = Tools::ideviceinfo();
    if (!tool)
        co_return result;
    const bool network = link == Device::Link::wifi;
    try {
        const ProcessOutput session =
            co_await ProcessRunner::run(*tool, infoArguments(udid, network, false), options(watchdog));
        if (session.status == 0) {
            fill(result.device, parseInfo(session.standardOutput()));
            co_return result;
        }
        applyRefusal(result.device, said(session));
        const ProcessOutput plain =
            co_await ProcessRunner::run(*tool, infoArguments(udid, network, true), options(watchdog));
        if (plain.status == 0)
            fill(result.device, parseInfo(plain.standardOutput()));
    } catch (const AppError&) {
        // An ideviceinfo that cannot start, or hangs, leaves the phone named by its UDID.
    }
    result.recheck = QDeadlineTimer(recheckInterval);
    co_return result;
}
