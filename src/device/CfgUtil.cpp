#include "device/CfgUtil.h"

#include "device/CfgUtilError.h"
#include "process/ProcessRunner.h"
#include "process/Tools.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QLocale>
#include <QRegularExpression>

#include <cmath>

namespace {

QString requireTool()
{
    const std::optional<QString> tool = Tools::cfgutil();
    if (!tool)
        throw CfgUtilError(CfgUtilError::Kind::notInstalled);
    return *tool;
}

QString decimalText(double number)
{
    // ECIDs are integers; keep them free of exponents and fractions when they fit.
    if (std::isfinite(number) && number == std::floor(number) && std::fabs(number) < 9.2e18)
        return QString::number(static_cast<qint64>(number));
    return QString::number(number, 'g', 17);
}

// GCC 12 cannot compile QStringLiteral inside a coroutine body, so argument lists are built here.
QStringList jsonArguments(const QStringList& arguments)
{
    return QStringList{QStringLiteral("--format"), QStringLiteral("JSON")} + arguments;
}

QStringList listArguments()
{
    return {QStringLiteral("list")};
}

QStringList devicePropertyNames()
{
    return {QStringLiteral("name"), QStringLiteral("deviceType"), QStringLiteral("firmwareVersion"),
            QStringLiteral("UDID"), QStringLiteral("isPaired"),   QStringLiteral("activationState")};
}

QStringList getArguments(const QString& ecid, const QStringList& names)
{
    return QStringList{QStringLiteral("--ecid"), ecid, QStringLiteral("get")} + names;
}

QStringList installArguments(const QString& ecid, const QString& ipa)
{
    return {QStringLiteral("--ecid"), ecid, QStringLiteral("--progress"), QStringLiteral("install-app"), ipa};
}

} // namespace

CfgUtil::CfgUtil(std::optional<std::chrono::milliseconds> watchdog)
    : m_watchdog(watchdog.value_or(ProcessRunner::defaultWatchdog()))
{}

QCoro::Task<QJsonObject> CfgUtil::runJSON(QStringList arguments)
{
    const QString tool = requireTool();
    ProcessRunner::Options options;
    options.watchdog = m_watchdog;
    const ProcessOutput output = co_await ProcessRunner::run(tool, jsonArguments(arguments), std::move(options));
    co_return interpretJSON(output);
}

QJsonObject CfgUtil::interpretJSON(const ProcessOutput& output)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(output.standardOutputBytes(), &error);
    if (error.error == QJsonParseError::NoError && document.isObject()) {
        const QJsonObject answer = document.object();
        if (answer.value(QLatin1String("Type")).toString() == QLatin1String("Error")) {
            const QJsonValue message = answer.value(QLatin1String("Message"));
            throw CfgUtilError::message(message.isString() ? message.toString()
                                                           : QStringLiteral("cfgutil вернул ошибку"));
        }
        return answer;
    }
    if (output.status == 0)
        return {};
    throw CfgUtilError::message(humanReadableFailure(output));
}

QCoro::Task<QList<Device>> CfgUtil::devices()
{
    const QJsonObject answer = co_await runJSON(listArguments());
    QList<Device> result;
    for (const QString& ecid : ecids(answer)) {
        std::optional<QJsonObject> values;
        try {
            values = co_await properties(ecid, devicePropertyNames());
        } catch (const AppError&) {
            // A phone whose properties cannot be read is still listed, with defaults.
            values.reset();
        }
        result.append(deviceFrom(ecid, values));
    }
    co_return result;
}

QStringList CfgUtil::ecids(const QJsonObject& listAnswer)
{
    QStringList result;
    const QJsonValue devices = listAnswer.value(QLatin1String("Devices"));
    if (!devices.isArray())
        return result;
    for (const QJsonValue& element : devices.toArray()) {
        if (element.isString())
            result.append(element.toString());
        else if (element.isDouble())
            result.append(decimalText(element.toDouble()));
    }
    return result;
}

QCoro::Task<QJsonObject> CfgUtil::properties(QString ecid, QStringList names)
{
    const QJsonObject answer = co_await runJSON(getArguments(ecid, names));
    co_return deviceProperties(answer, ecid);
}

QJsonObject CfgUtil::deviceProperties(const QJsonObject& getAnswer, const QString& ecid)
{
    const QJsonValue output = getAnswer.value(QLatin1String("Output"));
    if (!output.isObject())
        return {};
    const QJsonObject all = output.toObject();
    const QJsonValue own = all.value(ecid);
    if (all.isEmpty() || !own.isObject())
        return all;
    return own.toObject();
}

Device CfgUtil::deviceFrom(const QString& ecid, const std::optional<QJsonObject>& properties)
{
    Device device;
    device.ecid = ecid;
    device.name = QStringLiteral("iPhone");
    device.link = Device::Link::usb;
    if (!properties)
        return device;
    const auto text = [&](const char* key) -> std::optional<QString> {
        const QJsonValue value = properties->value(QLatin1String(key));
        return value.isString() ? std::optional<QString>(value.toString()) : std::nullopt;
    };
    device.name = text("name").value_or(QStringLiteral("iPhone"));
    device.udid = text("UDID");
    device.model = text("deviceType");
    device.iosVersion = text("firmwareVersion");
    const QJsonValue paired = properties->value(QLatin1String("isPaired"));
    device.isPaired = paired.isBool() ? paired.toBool() : true;
    return device;
}

QCoro::Task<> CfgUtil::install(QString ipa, QString ecid, ProgressHandler onProgress,
                               std::optional<CancelHandle> cancel)
{
    const QString tool = requireTool();
    ProcessRunner::Options options;
    options.onLine = progressLines(std::move(onProgress));
    options.cancel = std::move(cancel);
    options.watchdog = m_watchdog;
    const ProcessOutput output = co_await ProcessRunner::run(tool, installArguments(ecid, ipa), std::move(options));
    if (output.status != 0)
        throw CfgUtilError::message(humanReadableFailure(output));
}

std::function<void(const QString&)> CfgUtil::progressLines(ProgressHandler onProgress)
{
    return [onProgress = std::move(onProgress)](const QString& line) {
        if (!onProgress)
            return;
        if (const std::optional<Progress> progress = parseProgress(line))
            onProgress(progress->fraction, progress->step);
    };
}

std::optional<CfgUtil::Progress> CfgUtil::parseProgress(const QString& line)
{
    static const QRegularExpression percent(QStringLiteral("(\\d{1,3})(\\.\\d+)?%"));
    const QRegularExpressionMatch match = percent.match(line);
    if (!match.hasMatch())
        return std::nullopt;
    QString number = match.captured(0);
    number.chop(1);
    bool ok = false;
    const double value = QLocale::c().toDouble(number, &ok);
    if (!ok)
        return std::nullopt;
    const double fraction = std::clamp(value / 100.0, 0.0, 1.0);

    const QString prefix = line.left(match.capturedStart(0));
    const auto trimmable = [](QChar c) {
        return c == QLatin1Char(' ') || c == QLatin1Char(':') || c == QLatin1Char('\t') || c == QLatin1Char('-')
               || c == QLatin1Char('[') || c == QLatin1Char(']');
    };
    qsizetype begin = 0;
    qsizetype end = prefix.size();
    while (begin < end && trimmable(prefix.at(begin)))
        ++begin;
    while (end > begin && trimmable(prefix.at(end - 1)))
        --end;
    QString step = prefix.mid(begin, end - begin);
    if (step.isEmpty())
        step = QStringLiteral("Установка");
    return Progress{fraction, step};
}

std::optional<QString> CfgUtil::adviceFor(const QString& text)
{
    const QString lower = text.toLower();
    const auto any = [&](std::initializer_list<const char*> needles) {
        return std::any_of(needles.begin(), needles.end(),
                           [&](const char* needle) { return lower.contains(QLatin1String(needle)); });
    };
    // The phone's and lockdownd's own error names first: they say more than the generic words below.
    if (any({"pairing dialog response pending"}))
        return QStringLiteral("iPhone спрашивает, доверять ли этому компьютеру — разблокируй его и нажми «Доверять»");
    if (any({"user denied pairing"}))
        return QStringLiteral("На iPhone отказались доверять этому компьютеру — отключи и снова подключи кабель, "
                              "затем нажми «Доверять»");
    if (any({"password protected"}))
        return QStringLiteral("iPhone заблокирован — разблокируй экран и повтори");
    if (any({"invalid hostid", "invalid host id"}))
        return QStringLiteral("iPhone больше не доверяет этому компьютеру — отключи и снова подключи кабель, "
                              "затем нажми «Доверять»");
    if (any({"could not connect to lockdownd"}))
        return QStringLiteral("iPhone не отвечает — разблокируй его и, если он спросит, нажми «Доверять»");
    if (any({"applicationverificationfailed"}))
        return QStringLiteral("iPhone не принял приложение: на нём нужно войти в тот Apple Account, который его "
                              "получал (Настройки → App Store)");
    if (any({"deviceosversiontoolow"}))
        return QStringLiteral("Этой версии приложения нужна iOS новее, чем на iPhone — выбери версию постарше");
    if (any({"could not start com.apple.mobile.installation_proxy"}))
        return QStringLiteral("iPhone не запустил установку — перезагрузи его и повтори");
    if (any({"device removed", "afc write error", "wrote only"}))
        return QStringLiteral("Связь с iPhone прервалась — проверь кабель и повтори");
    if (any({"no such file or directory", "could not open", "permission denied"}))
        return QStringLiteral("Файл .ipa не найден или не читается — скачай его заново");
    if (any({"could not determine value for cfbundleexecutable"}))
        return QStringLiteral("Файл .ipa повреждён: в нём нет самого приложения — скачай его заново");
    if (any({"passcode", "locked"}))
        return QStringLiteral("Устройство заблокировано — разблокируй экран и повтори");
    if (any({"trust", "paired"}))
        return QStringLiteral("Устройство не доверяет компьютеру — подтверди «Доверять» на экране iPhone");
    // ideviceinstaller says "No device found" for an unplugged phone, which the table's words miss.
    if (any({"no devices", "no device found"}) || (any({"not found"}) && any({"device"})))
        return QStringLiteral("iPhone не найден — проверь кабель");
    if (any({"incompatible", "not compatible", "minimum"}))
        return QStringLiteral("Эта версия приложения не подходит под iOS на устройстве — выбери версию постарше");
    if (any({"license", "purchase", "apple id"}))
        return QStringLiteral(
            "iPhone не авторизован этим Apple Account — зайди на нём в App Store под тем же аккаунтом");
    return std::nullopt;
}

QString CfgUtil::humanReadableFailure(const ProcessOutput& output)
{
    const QString text = QString(output.standardError() + QLatin1Char('\n') + output.standardOutput()).trimmed();
    if (const auto advice = adviceFor(text))
        return *advice;
    if (!text.isEmpty())
        return text;
    return QStringLiteral("cfgutil завершился с кодом ") + QString::number(output.status);
}
