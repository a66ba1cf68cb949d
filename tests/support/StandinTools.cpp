#include "support/StandinTools.h"

#include "common/AtomicFile.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLockFile>
#include <QVariant>

namespace {

QJsonObject readObject(const QString& path)
{
    return QJsonDocument::fromJson(AtomicFile::read(path).value_or(QByteArray())).object();
}

// Replaced in one rename, so a stand-in starting meanwhile never reads half a file.
void writeAtomically(const QString& path, const QByteArray& content)
{
    if (!AtomicFile::write(path, content))
        qWarning("StandinTools: cannot write %s", qPrintable(path));
}

// Matches the stand-in: hand-written scenarios may say `true` or `1` where text is meant.
QString scalarText(const QJsonValue& value)
{
    return value.isString() || value.isBool() || value.isDouble() ? value.toVariant().toString() : QString();
}

} // namespace

StandinTools::StandinTools(QString resourceDir, QStringList toolNames)
    : m_dir(QDir(resourceDir).absolutePath())
    , m_tools(std::move(toolNames))
{
    if (!QDir().mkpath(m_dir))
        qWarning("StandinTools: cannot create %s", qPrintable(m_dir));
    for (const QString& tool : std::as_const(m_tools)) {
        const QString target = path(tool);
        QFile::remove(target);
        if (QFile::link(programPath(), target))
            continue;
        if (!QFile::copy(programPath(), target))
            qWarning("StandinTools: cannot install %s as %s", qPrintable(programPath()), qPrintable(target));
        QFile::setPermissions(target, QFile::permissions(target) | QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther);
    }
    QFile::remove(path("standin-state.json"));
    QFile::remove(path("standin-calls.jsonl"));
    setScenario(QJsonObject{{QLatin1String("rules"), QJsonArray()}});
}

void StandinTools::setScenario(const QJsonObject& scenario)
{
    editState([&](QJsonObject& state) {
        writeAtomically(path("standin.json"), QJsonDocument(scenario).toJson());
        for (const QString& key : state.keys()) {
            if (key.startsWith(QLatin1String("#times:")))
                state.remove(key);
        }
    });
}

void StandinTools::setState(const QString& key, const QString& value)
{
    editState([&](QJsonObject& state) { state.insert(key, value); });
}

QString StandinTools::state(const QString& key) const
{
    const QJsonObject state = readObject(path("standin-state.json"));
    if (state.contains(key))
        return scalarText(state.value(key));
    return scalarText(readObject(path("standin.json")).value(QLatin1String("state")).toObject().value(key));
}

QList<QStringList> StandinTools::calls(const QString& tool) const
{
    QFile log(path("standin-calls.jsonl"));
    if (!log.open(QIODevice::ReadOnly))
        return {};
    QList<QStringList> result;
    for (const QByteArray& line : log.readAll().split('\n')) {
        const QJsonObject call = QJsonDocument::fromJson(line).object();
        if (call.value(QLatin1String("tool")).toString() != tool)
            continue;
        QStringList args;
        for (const QJsonValue& arg : call.value(QLatin1String("args")).toArray())
            args.append(arg.toString());
        result.append(args);
    }
    return result;
}

QString StandinTools::path(const QString& tool) const
{
    return m_dir + QLatin1Char('/') + tool;
}

QString StandinTools::programPath()
{
    return QString::fromUtf8(QUORREL_STANDIN_PATH);
}

// Under the stand-ins' own lock, so an edit never races a running stand-in's state update.
void StandinTools::editState(const std::function<void(QJsonObject&)>& edit)
{
    QLockFile lock(path("standin.lock"));
    if (!lock.tryLock(10000))
        qWarning("StandinTools: cannot lock %s", qPrintable(path("standin.lock")));
    QJsonObject state = readObject(path("standin-state.json"));
    edit(state);
    writeAtomically(path("standin-state.json"), QJsonDocument(state).toJson());
}
