#include "store/IPATool.h"

#include "common/JsonRead.h"
#include "common/TerminalText.h"
#include "process/ProcessRunner.h"
#include "process/ToolError.h"
#include "process/Tools.h"
#include "store/IPAToolError.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QRegularExpression>
#include <QTimeZone>
#include <QTimer>

#include <algorithm>

namespace {

const QLatin1String errorKey("error");
const QLatin1String successKey("success");
const QLatin1String appsKey("apps");
const QLatin1String versionsKey("externalVersionIdentifiers");
const QLatin1String outputKey("output");
const QLatin1String messageKey("message");

std::optional<QString> errorText(const std::optional<QJsonObject>& answer)
{
    return answer ? JsonRead::string(*answer, errorKey) : std::nullopt;
}

bool containsAny(const QString& lower, std::initializer_list<const char*> fragments)
{
    return std::any_of(fragments.begin(), fragments.end(),
                       [&](const char* fragment) { return lower.contains(QLatin1String(fragment)); });
}

// Failures that mean the same whatever the command: the keychain and Apple's rate limits.
std::optional<IPAToolError> sharedError(const QString& lower)
{
    if (lower.contains(QLatin1String("keychain passphrase is required")))
        return IPAToolError(IPAToolError::Kind::keychainLocked);
    if (containsAny(lower, {"integrity check failed", "keyunwrap"}))
        return IPAToolError(IPAToolError::Kind::wrongKeychainPassphrase);
    if (containsAny(lower, {"rate limited", "http 429"}))
        return IPAToolError(IPAToolError::Kind::rateLimited);
    return std::nullopt;
}

bool asksForSecondFactor(const QString& text)
{
    const QString lower = text.toLower();
    return lower.contains(QLatin1String("auth code")) || lower.contains(QLatin1String("2fa"))
           || lower.contains(QLatin1String("two-factor"));
}

IPAToolError messageError(QString text)
{
    return IPAToolError(IPAToolError::Kind::message, std::move(text));
}

// A failed run that gave no JSON explanation speaks through its last words.
ToolError exitFailure(const ProcessOutput& output)
{
    const QStringList& lines = output.lines();
    for (auto line = lines.crbegin(); line != lines.crend(); ++line) {
        if (QString text = TerminalText::withoutEscapes(*line).trimmed(); !text.isEmpty())
            return ToolError(QStringLiteral("ipatool"), output.status, text);
    }
    return ToolError(QStringLiteral("ipatool"), output.status,
                     TerminalText::withoutEscapes(output.standardError()).trimmed());
}

// Reports a download's size on disk from the event loop until it is destroyed, so no report can
// follow the end of the download, however it ended.
class ProgressWatcher {
public:
    ProgressWatcher(QString destination, IPATool::ByteHandler onBytes, std::chrono::milliseconds interval)
        : m_destination(std::move(destination))
        , m_onBytes(std::move(onBytes))
    {
        if (!m_onBytes)
            return;
        QObject::connect(&m_timer, &QTimer::timeout, &m_timer, [this] { report(); });
        m_timer.start(interval);
        report();
    }

private:
    void report() { m_onBytes(IPATool::measureDownload(m_destination)); }

    QString m_destination;
    IPATool::ByteHandler m_onBytes;
    QTimer m_timer;
};

// Older versions list no platforms, and a gone app's may be unknown: both are kept, since hiding
// an iPhone app would lose exactly what the history is read for.
bool runsOnPhone(const QJsonObject& app)
{
    const QJsonValue platforms = app.value(QLatin1String("platforms"));
    if (!platforms.isArray() || platforms.toArray().isEmpty())
        return true;
    for (const QJsonValue& platform : platforms.toArray()) {
        const QString name = platform.toString().toLower();
        if (name == QLatin1String("iphone") || name == QLatin1String("ipad") || name == QLatin1String("unknown"))
            return true;
    }
    return false;
}

std::optional<int> digits(const QString& text, int from, int count)
{
    bool ok = false;
    const int value = text.mid(from, count).toInt(&ok);
    return ok ? std::optional<int>(value) : std::nullopt;
}

} // namespace

IPATool::IPATool(std::chrono::milliseconds progressInterval, std::optional<std::chrono::milliseconds> watchdog)
    : m_progressInterval(progressInterval)
    , m_watchdog(watchdog.value_or(ProcessRunner::defaultWatchdog()))
{}

QCoro::Task<ProcessOutput> IPATool::runTool(QStringList words, ProcessRunner::Options control)
{
    const std::optional<QString> tool = Tools::ipatool();
    if (!tool)
        throw IPAToolError(IPAToolError::Kind::notInstalled);
    QStringList arguments{QStringLiteral("--format"), QStringLiteral("json"), QStringLiteral("--non-interactive")};
    // One argument, so a passphrase that starts with "-" is never taken for a flag.
    if (m_keychainPassphrase)
        arguments.append(QStringLiteral("--keychain-passphrase=") + *m_keychainPassphrase);
    arguments += words;
    if (!control.watchdog)
        control.watchdog = m_watchdog;
    co_return co_await ProcessRunner::run(*tool, arguments, std::move(control));
}

QCoro::Task<std::optional<QJsonObject>> IPATool::runJSON(QStringList words, bool allowFailure)
{
    ProcessRunner::Options control;
    co_return co_await runJSON(std::move(words), allowFailure, std::move(control));
}

QCoro::Task<std::optional<QJsonObject>> IPATool::runJSON(QStringList words, bool allowFailure,
                                                         ProcessRunner::Options control)
{
    const ProcessOutput output = co_await runTool(std::move(words), std::move(control));
    co_return judge(output, pickAnswer(output.lines()), allowFailure);
}

std::optional<QJsonObject> IPATool::pickAnswer(const QStringList& lines)
{
    static const QLatin1String answerKeys[] = {errorKey, successKey, appsKey, versionsKey, outputKey};
    std::optional<QJsonObject> latest;
    for (auto line = lines.crbegin(); line != lines.crend(); ++line) {
        // Lines are trimmed; anything else is a log line, and skipping it early keeps huge output cheap.
        if (!line->startsWith(QLatin1Char('{')))
            continue;
        auto object = JsonRead::object(line->toUtf8());
        if (!object)
            continue;
        if (std::any_of(std::begin(answerKeys), std::end(answerKeys),
                        [&](QLatin1String key) { return object->contains(key); }))
            return object;
        if (!latest)
            latest = std::move(object);
    }
    return latest;
}

std::optional<QJsonObject> IPATool::judge(const ProcessOutput& output, std::optional<QJsonObject> answer,
                                          bool allowFailure)
{
    if (allowFailure)
        return answer;
    if (const auto text = errorText(answer))
        throw errorFor(*text);
    if (output.status != 0) {
        if (answer && answer->contains(errorKey))
            return answer;
        throw exitFailure(output);
    }
    return answer;
}

std::optional<IPATool::Account> IPATool::accountFrom(const std::optional<QJsonObject>& answer)
{
    if (!answer || JsonRead::boolean(*answer, successKey) != true)
        return std::nullopt;
    const auto email = JsonRead::string(*answer, QLatin1String("email"));
    if (!email)
        return std::nullopt;
    return Account{JsonRead::string(*answer, QLatin1String("name")).value_or(*email), *email};
}

void IPATool::checkLogin(const ProcessOutput& output, const std::optional<QJsonObject>& answer)
{
    if (const auto text = errorText(answer)) {
        const QString lower = text->toLower();
        if (auto shared = sharedError(lower))
            throw *shared;
        // Refusals of a code that was given: the user types another one, not the first one again.
        if (lower.contains(QLatin1String("exactly six digits")))
            throw IPAToolError(IPAToolError::Kind::badCode, QStringLiteral("Код должен состоять из шести цифр"));
        if (lower.contains(QLatin1String("did not complete verification")))
            throw IPAToolError(IPAToolError::Kind::badCode,
                               QStringLiteral("Apple не принял код — запроси новый и введи его"));
        if (asksForSecondFactor(*text))
            throw IPAToolError(IPAToolError::Kind::needsTwoFactor);
        throw IPAToolError(IPAToolError::Kind::badCredentials, TerminalText::withoutEscapes(*text));
    }
    // In non-interactive mode ipatool 2.x asks for the code with a plain info line and exit 0.
    if (answer && !answer->contains(errorKey) && JsonRead::boolean(*answer, successKey) != true) {
        if (const auto message = JsonRead::string(*answer, messageKey); message && asksForSecondFactor(*message))
            throw IPAToolError(IPAToolError::Kind::needsTwoFactor);
    }
    // A crash or a refused command line: the keychain still holds whoever signed in before.
    if (output.status != 0)
        throw exitFailure(output);
}

IPATool::PurchasesPage IPATool::purchasesFrom(const QJsonObject& answer)
{
    PurchasesPage page;
    page.totalCount = JsonRead::integer(answer, QLatin1String("totalCount")).value_or(0);
    const QJsonValue apps = answer.value(appsKey);
    // Go writes an empty list as null. Anything else that is not a list must not pass for an
    // empty history: the caller would save it over the one it has.
    if (apps.isNull())
        return page;
    if (!apps.isArray())
        throw messageError(QStringLiteral("ipatool прислал историю загрузок без списка приложений"));
    const QJsonArray array = apps.toArray();
    page.rawCount = array.size();
    page.apps.reserve(array.size());
    for (const QJsonValue& value : array) {
        const QJsonObject object = value.toObject();
        const auto id = value.isObject() ? JsonRead::integer(object, QLatin1String("id")) : std::nullopt;
        if (!id) {
            ++page.skipped;
            continue;
        }
        if (!runsOnPhone(object)) {
            ++page.otherPlatforms;
            continue;
        }
        PurchasedApp app;
        app.id = *id;
        app.bundleID = JsonRead::string(object, QLatin1String("bundleID")).value_or(QString());
        app.name = JsonRead::string(object, QLatin1String("name")).value_or(QString());
        if (app.name.trimmed().isEmpty())
            app.name = QStringLiteral("Без названия");
        app.version = JsonRead::string(object, QLatin1String("version")).value_or(QString());
        app.price = JsonRead::number(object, QLatin1String("price")).value_or(0);
        if (const auto date = JsonRead::string(object, QLatin1String("purchaseDate")))
            app.purchaseDate = parseDate(*date);
        page.apps.append(std::move(app));
    }
    return page;
}

IPAToolError IPATool::errorFor(const QString& text)
{
    const QString lower = text.toLower();
    if (auto shared = sharedError(lower))
        return *shared;
    if (lower.contains(QLatin1String("license is required")))
        return IPAToolError(IPAToolError::Kind::licenseRequired);
    if (lower.contains(QLatin1String("app not found")))
        return IPAToolError(IPAToolError::Kind::appNotFound);
    // Not signed in, an expired sign-in, or one whose automatic renewal needs a code.
    if (containsAny(lower,
                    {"password token", "authenticate", "could not be found in the keyring", "auth code is required"}))
        return IPAToolError(IPAToolError::Kind::notAuthenticated);
    return messageError(TerminalText::withoutEscapes(text));
}

std::optional<QVersionNumber> IPATool::parseVersion(const QString& output)
{
    static const QRegularExpression form(QStringLiteral(R"(\bversion\s+v?(\d+(?:\.\d+)*))"));
    const QRegularExpressionMatch match = form.match(TerminalText::withoutEscapes(output));
    if (!match.hasMatch())
        return std::nullopt;
    return QVersionNumber::fromString(match.captured(1));
}

QString IPATool::historyRefusal(const std::optional<QVersionNumber>& version)
{
    const QString needed = QStringLiteral("для истории загрузок нужен ipatool ") + historyVersion().toString()
                           + QStringLiteral(" или новее — обнови его");
    if (!version)
        return QStringLiteral("Этот ipatool не умеет читать историю загрузок: ") + needed;
    return QStringLiteral("Установлен ipatool ") + version->toString() + QStringLiteral(", а ") + needed;
}

std::optional<QDateTime> IPATool::parseDate(const QString& text)
{
    // The internet date-time form only: Qt's own ISO reader also takes dates without a zone.
    static const QRegularExpression form(
        QStringLiteral(R"(^(\d{4})-(\d{2})-(\d{2})T(\d{2}):(\d{2}):(\d{2})(\.\d+)?(Z|[+-]\d{2}:\d{2})$)"));
    const QRegularExpressionMatch match = form.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    const auto part = [&](int index) { return match.captured(index).toInt(); };
    const QDate date(part(1), part(2), part(3));
    int msecs = 0;
    if (const QString fraction = match.captured(7); !fraction.isEmpty())
        msecs = QString(fraction.mid(1) + QStringLiteral("00")).left(3).toInt();
    const QTime time(part(4), part(5), part(6), msecs);
    if (!date.isValid() || !time.isValid())
        return std::nullopt;

    const QString zone = match.captured(8);
    int offset = 0;
    if (zone != QLatin1String("Z")) {
        const auto hours = digits(zone, 1, 2);
        const auto minutes = digits(zone, 4, 2);
        if (!hours || !minutes || *hours > 23 || *minutes > 59)
            return std::nullopt;
        offset = (*hours * 3600 + *minutes * 60) * (zone.startsWith(QLatin1Char('-')) ? -1 : 1);
    }
    const QDateTime local(date, time, QTimeZone(offset));
    if (!local.isValid())
        return std::nullopt;
    return local.toUTC();
}

qint64 IPATool::measureDownload(const QString& destination)
{
    const QFileInfo target(destination);
    if (target.isFile() && target.size() > 0)
        return target.size();
    const QString stem = target.completeBaseName();
    qint64 largest = 0;
    const QFileInfoList entries =
        target.absoluteDir().entryInfoList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Unsorted);
    for (const QFileInfo& entry : entries) {
        if (entry.fileName().startsWith(stem))
            largest = std::max(largest, entry.size());
    }
    return largest;
}

QCoro::Task<std::optional<QVersionNumber>> IPATool::version()
{
    const std::optional<QString> tool = Tools::ipatool();
    if (!tool)
        co_return std::nullopt;
    // A tool replaced while the application runs is read again.
    const QDateTime modified = QFileInfo(*tool).lastModified();
    // A copy: QCoro 0.8 moves from a non-const lvalue that is co_returned, which would empty the cache.
    if (m_version && m_version->path == *tool && m_version->modified == modified)
        co_return std::optional<QVersionNumber>(m_version->version);
    std::optional<QVersionNumber> found;
    try {
        ProcessRunner::Options control;
        control.watchdog = m_watchdog;
        const QStringList words{QStringLiteral("--version")};
        const ProcessOutput output = co_await ProcessRunner::run(*tool, words, std::move(control));
        if (output.status == 0)
            found = parseVersion(output.lines().join(QLatin1Char('\n')));
    } catch (const ToolError&) {
        // Unknown; the commands themselves will say what is wrong.
    }
    m_version = VersionReading{*tool, modified, found};
    co_return found;
}

QCoro::Task<std::optional<IPATool::Account>> IPATool::accountInfo()
{
    // Named lists throughout: g++ 12 miscompiles braced lists inside a co_await expression.
    const QStringList words{QStringLiteral("auth"), QStringLiteral("info")};
    const std::optional<QJsonObject> answer = co_await runJSON(words, true);
    // A locked keychain says nothing about who is signed in; any other error means nobody.
    if (const auto text = errorText(answer)) {
        if (IPAToolError error = errorFor(*text); error.isKeychainError())
            throw error;
    }
    co_return accountFrom(answer);
}

QCoro::Task<IPATool::Account> IPATool::login(QString email, QString password, QString code)
{
    QStringList words{
        QStringLiteral("auth"), QStringLiteral("login"), QStringLiteral("-e"), email, QStringLiteral("-p"), password};
    if (!code.isEmpty())
        words << QStringLiteral("--auth-code") << code;
    ProcessRunner::Options control;
    control.watchdog = std::max<std::chrono::milliseconds>(m_watchdog, signInWatchdog);
    const ProcessOutput output = co_await runTool(words, std::move(control));
    checkLogin(output, pickAnswer(output.lines()));
    const std::optional<Account> account = co_await accountInfo();
    if (!account)
        throw messageError(QStringLiteral("Вход не удался — ipatool не вернул данные аккаунта"));
    // ipatool may report an account it kept from before rather than the one just asked for.
    if (account->email.compare(email.trimmed(), Qt::CaseInsensitive) != 0)
        throw messageError(QStringLiteral("Вход не удался: ipatool вернул другой аккаунт (") + account->email
                           + QStringLiteral("). Проверь e-mail и попробуй ещё раз"));
    co_return *account;
}

QCoro::Task<> IPATool::logout()
{
    const QStringList words{QStringLiteral("auth"), QStringLiteral("revoke")};
    co_await runJSON(words, true);
}

QCoro::Task<IPATool::PurchasesPage> IPATool::purchases(int page, int limit, std::optional<CancelHandle> cancel)
{
    const QStringList words{QStringLiteral("list-purchases"), QStringLiteral("-p"), QString::number(page),
                            QStringLiteral("-l"), QString::number(limit)};
    // An unreadable version blocks nothing: the command itself then says whether it exists.
    const std::optional<QVersionNumber> found = co_await version();
    if (found && *found < historyVersion())
        throw messageError(historyRefusal(found));
    ProcessRunner::Options control;
    control.cancel = std::move(cancel);
    std::optional<QJsonObject> answer;
    bool unknownCommand = false;
    try {
        answer = co_await runJSON(words, false, std::move(control));
    } catch (const ToolError& error) {
        // A version whose number could not be read, refusing the command before parsing anything.
        if (error.kind() != ToolError::Kind::exitStatus || !error.message().contains(QLatin1String("unknown command")))
            throw;
        unknownCommand = true;
    }
    if (unknownCommand)
        throw messageError(historyRefusal(std::nullopt));
    if (!answer)
        throw messageError(QStringLiteral("Пустой ответ от ipatool"));
    co_return purchasesFrom(*answer);
}

QCoro::Task<QStringList> IPATool::versions(qint64 appID)
{
    const QStringList words{QStringLiteral("list-versions"), QStringLiteral("-i"), QString::number(appID)};
    const auto answer = co_await runJSON(words, false);
    QStringList ids;
    if (!answer)
        co_return ids;
    const QJsonValue list = answer->value(versionsKey);
    if (!list.isArray())
        co_return ids;
    for (const QJsonValue& value : list.toArray()) {
        if (!value.isString())
            co_return QStringList();
        ids.append(value.toString());
    }
    co_return ids;
}

QCoro::Task<AppVersion> IPATool::versionMetadata(qint64 appID, QString externalVersionID)
{
    const QStringList words{QStringLiteral("get-version-metadata"), QStringLiteral("-i"), QString::number(appID),
                            QStringLiteral("--external-version-id"), externalVersionID};
    const auto answer = co_await runJSON(words, true);
    AppVersion version{externalVersionID, std::nullopt, std::nullopt};
    if (!answer || answer->contains(errorKey))
        co_return version;
    version.displayVersion = JsonRead::string(*answer, QLatin1String("displayVersion"));
    if (const auto date = JsonRead::string(*answer, QLatin1String("releaseDate")))
        version.releaseDate = parseDate(*date);
    co_return version;
}

QCoro::Task<QString> IPATool::download(qint64 appID, std::optional<QString> externalVersionID, QString destination,
                                       bool purchaseIfNeeded, ByteHandler onBytes, std::optional<CancelHandle> cancel)
{
    QStringList words{QStringLiteral("download"), QStringLiteral("-i"), QString::number(appID), QStringLiteral("-o"),
                      destination};
    if (externalVersionID)
        words << QStringLiteral("--external-version-id") << *externalVersionID;
    if (purchaseIfNeeded)
        words << QStringLiteral("--purchase");

    std::optional<QJsonObject> answer;
    {
        const ProgressWatcher watcher(destination, std::move(onBytes), m_progressInterval);
        // ipatool prints nothing until the end: a file that stops growing is the sign of a hang.
        ProcessRunner::Options control;
        control.cancel = std::move(cancel);
        control.activity = [destination] { return measureDownload(destination); };
        answer = co_await runJSON(words, true, std::move(control));
    }
    if (const auto text = errorText(answer))
        throw errorFor(*text);
    if (const auto output = answer ? JsonRead::string(*answer, outputKey) : std::nullopt)
        co_return *output;
    throw messageError(QStringLiteral("ipatool не сказал, куда положил файл"));
}
