#include "device/IDeviceInstaller.h"

#include "device/CfgUtilError.h"
#include "process/ProcessRunner.h"
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

bool IDeviceInstaller::isAvailable()
{
    return Tools::ideviceinstaller().has_value();
}

QCoro::Task<> IDeviceInstaller::install(QString ipa, QString udid, CfgUtil::ProgressHandler onProgress)
{
    const std::optional<QString> tool = Tools::ideviceinstaller();
    if (!tool)
        throw CfgUtilError(CfgUtilError::Kind::notInstalled);
    const Syntax dialect = co_await syntax(*tool);
    const ProcessOutput output = co_await ProcessRunner::run(*tool, installArguments(dialect, udid, ipa), std::nullopt,
                                                             CfgUtil::progressLines(std::move(onProgress)));
    if (reportsFailure(output))
        throw CfgUtilError::message(CfgUtil::humanReadableFailure(output));
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

QStringList IDeviceInstaller::installArguments(Syntax syntax, const QString& udid, const QString& ipa)
{
    if (syntax == Syntax::legacyFlags)
        return {QStringLiteral("-u"), udid, QStringLiteral("-i"), ipa};
    return {QStringLiteral("-u"), udid, QStringLiteral("install"), ipa};
}

QStringList IDeviceInstaller::listArguments(Syntax syntax, const QString& udid)
{
    // The old dialect cannot pick keys; it prints every key of every app, parsed the same way.
    if (syntax == Syntax::legacyFlags)
        return {QStringLiteral("-u"), udid, QStringLiteral("-l"), QStringLiteral("-o"), QStringLiteral("xml")};
    return {QStringLiteral("-u"),   udid,
            QStringLiteral("list"), QStringLiteral("--xml"),
            QStringLiteral("-a"),   QStringLiteral("CFBundleIdentifier"),
            QStringLiteral("-a"),   QStringLiteral("CFBundleDisplayName"),
            QStringLiteral("-a"),   QStringLiteral("CFBundleShortVersionString"),
            QStringLiteral("-a"),   QStringLiteral("iTunesMetadata")};
}

bool IDeviceInstaller::reportsFailure(const ProcessOutput& output)
{
    if (output.status != 0)
        return true;
    // Errors go to standard error, and "No device found." carries no "error" at all.
    for (const QString& stream : {output.standardOutput(), output.standardError()}) {
        const QString lower = stream.toLower();
        if (lower.contains(QLatin1String("error")) || lower.contains(QLatin1String("no device found")))
            return true;
    }
    return false;
}
