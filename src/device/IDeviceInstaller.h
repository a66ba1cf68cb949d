#pragma once

#include "device/CfgUtil.h"
#include "process/ProcessOutput.h"

#include <QString>
#include <QStringList>

#include <QCoroTask>

/// Installs an .ipa through libimobiledevice's ideviceinstaller, addressed by UDID; the fallback
/// when cfgutil cannot serve the phone. Speaks both command-line dialects the tool has had.
class IDeviceInstaller {
public:
    /// 1.1.x (Debian 12) knows only flags (`-l -o xml`, `-i ARCHIVE`); 1.2.0 and later take
    /// subcommands (`list --xml -a KEY`, `install PATH`).
    enum class Syntax { subcommands, legacyFlags };

    static bool isAvailable();

    /// Throws CfgUtilError (notInstalled when the tool is missing) or ToolError when it cannot start.
    QCoro::Task<> install(QString ipa, QString udid, CfgUtil::ProgressHandler onProgress);

    /// Asks the tool for its help once per tool file and remembers the answer.
    static QCoro::Task<Syntax> syntax(QString tool);
    /// nullopt when the help text says nothing recognisable.
    static std::optional<Syntax> syntaxFromHelp(const QString& help);
    static QStringList installArguments(Syntax syntax, const QString& udid, const QString& ipa);
    static QStringList listArguments(Syntax syntax, const QString& udid);

    /// The tool reports some failures only in text, on either stream, with exit status 0.
    static bool reportsFailure(const ProcessOutput& output);
};
