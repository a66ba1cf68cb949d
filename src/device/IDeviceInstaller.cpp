#include "device/IDeviceInstaller.h"

#include "device/CfgUtilError.h"
#include "platform/Platform.h"
#include "process/ProcessRunner.h"
#include "process/ToolError.h"
#include "process/Tools.h"

#include <QDateTime>
#include <QFileInfo>
#include <QHash>
#include <QMutex>

namespace {

struct SyntaxCache {
    QMutex mutex;
    QHash<QString, IDeviceInstaller::Syntax> known;
};

SyntaxCache& syntaxCache()
{
    static SyntaxCache cache;
    return cache;
}

// The file's time is part of the key, so a tool upgraded in place is asked again.
QString cacheKey(const QString& tool)
{
    const QFileInfo info(tool);
    return info.canonicalFilePath() + QLatin1Char('\n') + QString::number(info.lastModified().toMSecsSinceEpoch())
           + QLatin1Char('\n') + tool;
}

// GCC 12 cannot compile QStringLiteral inside a coroutine body.
QStringList helpArguments()
{
    return {QStringLiteral("--help")};
}

} // namespace

IDeviceInstaller::IDeviceInstaller(std::optional<std::chrono::milliseconds> watchdog)
    : m_watchdog(watchdog.value_or(ProcessRunner::defaultWatchdog()))
{}

bool IDeviceInstaller::isAvailable()
{
    return Tools::ideviceinstaller().has_value();
}

QString IDeviceInstaller::installHint()
{
    if (Platform::isLinux())
        return QStringLiteral("поставь пакет ideviceinstaller (sudo apt install ideviceinstaller)");
    return QStringLiteral("brew install ideviceinstaller");
}

QCoro::Task<> IDeviceInstaller::install(QString ipa, QString udid, bool network, CfgUtil::ProgressHandler onProgress,
                                        std::optional<CancelHandle> cancel)
{
    const std::optional<QString> tool = Tools::ideviceinstaller();
    if (!tool)
        throw CfgUtilError::message(QStringLiteral("Не найден ideviceinstaller — ") + installHint());
    const Syntax dialect = co_await syntax(*tool);
    ProcessRunner::Options options;
    options.onLine = CfgUtil::progressLines([onProgress = std::move(onProgress)](double fraction, const QString& step) {
        if (onProgress)
            onProgress(fraction, stepName(step));
    });
    options.cancel = std::move(cancel);
    options.watchdog = m_watchdog;
    ProcessOutput output;
    try {
        output = co_await ProcessRunner::run(*tool, installArguments(dialect, udid, ipa, network), std::move(options));
    } catch (const ToolError& error) {
        if (error.kind() != ToolError::Kind::hung)
            throw;
        throw CfgUtilError::message(
            QStringLiteral("iPhone перестал отвечать, установка остановлена — отключи и снова подключи его, "
                           "затем повтори"),
            error.description());
    }
    if (auto failure = installFailure(output))
        throw std::move(*failure);
}

QCoro::Task<IDeviceInstaller::Syntax> IDeviceInstaller::syntax(QString tool)
{
    const QString key = cacheKey(tool);
    {
        QMutexLocker lock(&syntaxCache().mutex);
        const auto found = syntaxCache().known.constFind(key);
        if (found != syntaxCache().known.cend())
            co_return *found;
    }
    const ProcessOutput help = co_await ProcessRunner::run(tool, helpArguments());
    const std::optional<Syntax> recognised =
        syntaxFromHelp(help.standardOutput() + QLatin1Char('\n') + help.standardError());
    if (!recognised)
        co_return Syntax::subcommands; // not remembered: the next call asks again
    QMutexLocker lock(&syntaxCache().mutex);
    syntaxCache().known.insert(key, *recognised);
    co_return *recognised;
}

std::optional<IDeviceInstaller::Syntax> IDeviceInstaller::syntaxFromHelp(const QString& help)
{
    if (help.contains(QLatin1String("COMMANDS")))
        return Syntax::subcommands;
    if (help.contains(QLatin1String("--list-apps")))
        return Syntax::legacyFlags;
    return std::nullopt;
}

namespace {

// Without -n the tools look for the phone on the cable only, and say it is not there.
QStringList addressed(const QString& udid, bool network)
{
    QStringList arguments{QStringLiteral("-u"), udid};
    if (network)
        arguments.append(QStringLiteral("-n"));
    return arguments;
}

} // namespace

QStringList IDeviceInstaller::installArguments(Syntax syntax, const QString& udid, const QString& ipa, bool network)
{
    QStringList arguments = addressed(udid, network);
    arguments << (syntax == Syntax::legacyFlags ? QStringLiteral("-i") : QStringLiteral("install")) << ipa;
    return arguments;
}

QStringList IDeviceInstaller::listArguments(Syntax syntax, const QString& udid, bool network)
{
    QStringList arguments = addressed(udid, network);
    // The old dialect cannot pick keys; it prints every key of every app, parsed the same way.
    if (syntax == Syntax::legacyFlags)
        return arguments << QStringLiteral("-l") << QStringLiteral("-o") << QStringLiteral("xml");
    return arguments << QStringLiteral("list") << QStringLiteral("--xml") << QStringLiteral("-a")
                     << QStringLiteral("CFBundleIdentifier") << QStringLiteral("-a")
                     << QStringLiteral("CFBundleDisplayName") << QStringLiteral("-a")
                     << QStringLiteral("CFBundleShortVersionString") << QStringLiteral("-a")
                     << QStringLiteral("iTunesMetadata");
}

std::optional<CfgUtilError> IDeviceInstaller::installFailure(const ProcessOutput& output)
{
    QStringList errorLines;
    bool complete = false;
    for (const QString& line : output.lines()) {
        if (line.startsWith(QLatin1String("ERROR")))
            errorLines.append(line);
        else if (line == QLatin1String("Install: Complete") || line == QLatin1String("Install: Complete (100%)"))
            complete = true;
    }
    const QString stderrText = output.standardError().trimmed();
    // Warnings about missing metadata come with every sideloaded file and are not failures.
    QStringList problems;
    for (const QString& line : stderrText.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QString trimmed = line.trimmed();
        if (!trimmed.startsWith(QLatin1String("WARNING")) && !errorLines.contains(trimmed))
            problems.append(trimmed);
    }
    problems = errorLines + problems;
    if (output.status == 0 && complete && problems.isEmpty())
        return std::nullopt;

    const QString said = problems.join(QLatin1Char('\n'));
    if (const auto advice = CfgUtil::adviceFor(said))
        return CfgUtilError::message(*advice, said);
    if (said.isEmpty())
        return CfgUtilError::message(
            QStringLiteral("Установка не закончилась — iPhone не подтвердил её. Проверь кабель и повтори"),
            QStringLiteral("ideviceinstaller: код возврата ") + QString::number(output.status));
    return CfgUtilError::message(QStringLiteral("iPhone не принял установку — подробности в журнале"), said);
}

QString IDeviceInstaller::stepName(const QString& step)
{
    static const QHash<QString, QString> names{
        {QStringLiteral("CreatingStagingDirectory"), QStringLiteral("Готовлю место на iPhone")},
        {QStringLiteral("ExtractingPackage"), QStringLiteral("Распаковываю")},
        {QStringLiteral("InspectingPackage"), QStringLiteral("Проверяю пакет")},
        {QStringLiteral("TakingInstallLock"), QStringLiteral("Жду очереди на установку")},
        {QStringLiteral("PreflightingApplication"), QStringLiteral("Проверяю приложение")},
        {QStringLiteral("InstallingEmbeddedProfile"), QStringLiteral("Ставлю профиль")},
        {QStringLiteral("VerifyingApplication"), QStringLiteral("Проверяю подпись")},
        {QStringLiteral("CreatingContainer"), QStringLiteral("Создаю папку приложения")},
        {QStringLiteral("InstallingApplication"), QStringLiteral("Устанавливаю")},
        {QStringLiteral("PostflightingApplication"), QStringLiteral("Завершаю")},
        {QStringLiteral("SandboxingApplication"), QStringLiteral("Завершаю")},
        {QStringLiteral("GeneratingApplicationMap"), QStringLiteral("Завершаю")},
        {QStringLiteral("Complete"), QStringLiteral("Готово")},
    };
    QString name = step;
    if (name.startsWith(QLatin1String("Install:")))
        name = name.mid(8);
    if (name.endsWith(QLatin1Char('(')))
        name.chop(1);
    return names.value(name.trimmed(), step);
}
