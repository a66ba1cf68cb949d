#include "demo/DemoFiles.h"

#include <QFile>
#include <QProcess>

namespace DemoFiles {

std::optional<QString> write(const QString& path, const QByteArray& content)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size())
        return std::nullopt;
    return QStringLiteral("Не удалось записать %1: %2").arg(path, file.errorString());
}

std::optional<QString> run(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    process.setStandardInputFile(QProcess::nullDevice());
    process.start();
    const bool finished = process.waitForFinished(120'000);
    if (finished && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0)
        return std::nullopt;
    if (!finished)
        process.kill();
    const QString reason = QString::fromLocal8Bit(process.readAllStandardError()).trimmed();
    return program + QStringLiteral(": ") + (reason.isEmpty() ? process.errorString() : reason);
}

} // namespace DemoFiles
