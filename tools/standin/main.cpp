// One program that stands in for ipatool, cfgutil and the libimobiledevice tools. It is installed
// under each tool's name; a JSON scenario beside it decides what every call prints, writes, changes
// and returns. tests/support/README.md describes the scenario format.

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QLockFile>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStandardPaths>
#include <QString>
#include <QStringList>
#include <QThread>
#include <QVariant>

#include <algorithm>
#include <climits>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <exception>

namespace {

// Ends the call with a message on stderr; thrown so that every object still unwinds cleanly.
struct Failure {
    int exitCode;
    QString message;
};

Failure scenarioError(const QString& message)
{
    return {127, QStringLiteral("standin: ") + message};
}

// Unbuffered on purpose: callers watch lines arrive while the tool still runs.
void emitBytes(FILE* stream, const QByteArray& bytes)
{
    if (!bytes.isEmpty())
        std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stream);
    std::fflush(stream);
}

// Scenarios are hand-written, so `true` or `1` must compare equal to the text "true" or "1".
QString scalarText(const QJsonValue& value)
{
    switch (value.type()) {
    case QJsonValue::String:
        return value.toString();
    case QJsonValue::Bool:
    case QJsonValue::Double:
        return value.toVariant().toString();
    default:
        return {};
    }
}

// Clamped before the conversion: a double outside the range would make the cast undefined.
qint64 number(const QJsonValue& value, qint64 fallback, qint64 low, qint64 high)
{
    if (!value.isDouble() || std::isnan(value.toDouble()))
        return fallback;
    return static_cast<qint64>(std::clamp(value.toDouble(), static_cast<double>(low), static_cast<double>(high)));
}

QJsonObject readObject(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).object();
}

QByteArray decodeBase64(const QJsonValue& value)
{
    const auto decoded =
        QByteArray::fromBase64Encoding(value.toString().toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        throw scenarioError(QStringLiteral("invalid base64 in a step"));
    return *decoded;
}

int signalNamed(QString name)
{
    if (name.startsWith(QLatin1String("SIG")))
        name = name.mid(3);
    static const QList<std::pair<QLatin1String, int>> known = {
        {QLatin1String("KILL"), SIGKILL}, {QLatin1String("TERM"), SIGTERM}, {QLatin1String("SEGV"), SIGSEGV},
        {QLatin1String("ABRT"), SIGABRT}, {QLatin1String("INT"), SIGINT},   {QLatin1String("HUP"), SIGHUP}};
    for (const auto& [signalName, signalNumber] : known) {
        if (name == signalName)
            return signalNumber;
    }
    throw scenarioError(QStringLiteral("unknown signal ") + name);
}

class Call {
public:
    Call(QString tool, QStringList args, QString scenarioPath)
        : m_tool(std::move(tool))
        , m_args(std::move(args))
        , m_dir(QFileInfo(scenarioPath).absolutePath())
    {
        QFile file(scenarioPath);
        if (!file.open(QIODevice::ReadOnly))
            throw scenarioError(QStringLiteral("cannot read scenario %1: %2").arg(scenarioPath, file.errorString()));
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &error);
        if (error.error != QJsonParseError::NoError)
            throw scenarioError(QStringLiteral("scenario %1 is not valid JSON: %2 at offset %3")
                                    .arg(scenarioPath, error.errorString())
                                    .arg(error.offset));
        if (!document.isObject())
            throw scenarioError(QStringLiteral("scenario %1 is not a JSON object").arg(scenarioPath));
        m_scenario = document.object();
    }

    int run()
    {
        const QJsonObject rule = chooseRule();
        if (rule.isEmpty()) {
            const QString call = (QStringList{m_tool} + m_args).join(QLatin1Char(' '));
            throw scenarioError(QStringLiteral("no rule for ") + call);
        }
        runSteps(rule.value(QLatin1String("steps")), -1);
        return static_cast<int>(number(rule.value(QLatin1String("exit")), 0, 0, 255));
    }

private:
    QString filePath(const char* name) const { return m_dir + QLatin1Char('/') + QLatin1String(name); }

    QString stateValue(const QString& key) const
    {
        if (m_state.contains(key))
            return scalarText(m_state.value(key));
        return scalarText(m_scenario.value(QLatin1String("state")).toObject().value(key));
    }

    // Both "--out path" and "--out=path" count: the tools accept either spelling.
    QString option(const QString& name) const
    {
        for (qsizetype i = 0; i < m_args.size(); ++i) {
            if (m_args.at(i) == name)
                return i + 1 < m_args.size() ? m_args.at(i + 1) : QString();
            if (m_args.at(i).startsWith(name + QLatin1Char('=')))
                return m_args.at(i).mid(name.size() + 1);
        }
        return {};
    }

    // One pass, so argument values that happen to contain braces are never expanded themselves.
    // A "json:" prefix escapes the value for use inside a JSON string, as a real tool's answer would.
    QString expand(const QString& text, qint64 iteration) const
    {
        static const QRegularExpression placeholder(
            QStringLiteral(R"(\{(json:)?(?:(arg|opt|state):([^{}]*)|(i|dir))\})"));
        QString result;
        qsizetype last = 0;
        for (auto it = placeholder.globalMatch(text); it.hasNext();) {
            const QRegularExpressionMatch match = it.next();
            result += QStringView(text).mid(last, match.capturedStart() - last);
            last = match.capturedEnd();
            const QString kind = match.captured(2) + match.captured(4);
            const QString name = match.captured(3);
            bool isIndex = false;
            const int index = name.toInt(&isIndex);
            QString value;
            if (kind == QLatin1String("arg") && isIndex && index >= 0)
                value = m_args.value(index);
            else if (kind == QLatin1String("opt"))
                value = option(name);
            else if (kind == QLatin1String("state"))
                value = stateValue(name);
            else if (kind == QLatin1String("dir"))
                value = m_dir;
            else if (kind == QLatin1String("i") && iteration >= 0)
                value = QString::number(iteration);
            else {
                result += match.captured(0);
                continue;
            }
            if (match.hasCaptured(1) && !match.captured(1).isEmpty()) {
                // Serialise as a one-element array and strip the brackets and quotes.
                const QByteArray json = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
                value = QString::fromUtf8(json.mid(2, json.size() - 4));
            }
            result += value;
        }
        result += QStringView(text).mid(last);
        return result;
    }

    bool fits(const QJsonObject& rule, int index) const
    {
        if (rule.value(QLatin1String("tool")).toString() != m_tool)
            return false;
        if (rule.contains(QLatin1String("args"))) {
            const QJsonArray expected = rule.value(QLatin1String("args")).toArray();
            if (expected.size() != m_args.size())
                return false;
            for (qsizetype i = 0; i < m_args.size(); ++i) {
                if (scalarText(expected.at(i)) != m_args.at(i))
                    return false;
            }
        }
        if (rule.contains(QLatin1String("match"))) {
            const QRegularExpression pattern(rule.value(QLatin1String("match")).toString());
            if (!pattern.isValid())
                throw scenarioError(
                    QStringLiteral("rule %1: bad regular expression: %2").arg(index).arg(pattern.errorString()));
            if (!pattern.match(m_args.join(QLatin1Char(' '))).hasMatch())
                return false;
        }
        const QJsonObject required = rule.value(QLatin1String("requires")).toObject();
        for (auto it = required.begin(); it != required.end(); ++it) {
            if (stateValue(it.key()) != scalarText(it.value()))
                return false;
        }
        if (rule.contains(QLatin1String("times"))) {
            const qint64 limit = number(rule.value(QLatin1String("times")), 0, 0, INT_MAX);
            if (stateValue(timesKey(index)).toLongLong() >= limit)
                return false;
        }
        return true;
    }

    static QString timesKey(int index) { return QStringLiteral("#times:%1").arg(index); }

    // Matching, counting, state changes and the call log happen under one lock, so concurrent
    // stand-ins neither lose an update nor both take a rule limited to one use.
    QJsonObject chooseRule()
    {
        QLockFile lock(filePath("standin.lock"));
        if (!lock.tryLock(10000))
            throw scenarioError(QStringLiteral("cannot lock %1").arg(filePath("standin.lock")));

        const QJsonObject logLine{{QLatin1String("tool"), m_tool},
                                  {QLatin1String("args"), QJsonArray::fromStringList(m_args)}};
        QFile log(filePath("standin-calls.jsonl"));
        if (!log.open(QIODevice::WriteOnly | QIODevice::Append))
            throw scenarioError(QStringLiteral("cannot append to %1").arg(log.fileName()));
        log.write(QJsonDocument(logLine).toJson(QJsonDocument::Compact) + '\n');
        log.close();

        m_state = readObject(filePath("standin-state.json"));
        const QJsonArray rules = m_scenario.value(QLatin1String("rules")).toArray();
        for (int index = 0; index < rules.size(); ++index) {
            const QJsonObject rule = rules.at(index).toObject();
            if (!fits(rule, index))
                continue;
            if (rule.contains(QLatin1String("times")))
                m_state.insert(timesKey(index), QString::number(stateValue(timesKey(index)).toLongLong() + 1));
            // Values are expanded against the state as it was, so a rule can copy one key to another.
            const QJsonObject changes = rule.value(QLatin1String("set")).toObject();
            QJsonObject expanded;
            for (auto it = changes.begin(); it != changes.end(); ++it)
                expanded.insert(it.key(), expand(scalarText(it.value()), -1));
            for (auto it = expanded.begin(); it != expanded.end(); ++it)
                m_state.insert(it.key(), it.value());
            if (!rule.contains(QLatin1String("times")) && changes.isEmpty())
                return rule;
            QSaveFile state(filePath("standin-state.json"));
            if (!state.open(QIODevice::WriteOnly) || state.write(QJsonDocument(m_state).toJson()) < 0
                || !state.commit())
                throw scenarioError(QStringLiteral("cannot write %1").arg(state.fileName()));
            return rule;
        }
        return {};
    }

    void runSteps(const QJsonValue& steps, qint64 iteration)
    {
        if (steps.isUndefined())
            return;
        if (!steps.isArray())
            throw scenarioError(QStringLiteral("\"steps\" must be an array"));
        for (const QJsonValue& value : steps.toArray())
            runStep(value.toObject(), iteration);
    }

    void runStep(const QJsonObject& step, qint64 iteration)
    {
        const auto has = [&](const char* key) { return step.contains(QLatin1String(key)); };
        const auto at = [&](const char* key) { return step.value(QLatin1String(key)); };
        if (has("out") || has("err")) {
            const QJsonValue end = at("end");
            const QString text = expand((has("out") ? at("out") : at("err")).toString(), iteration)
                                 + (end.isString() ? end.toString() : QStringLiteral("\n"));
            emitBytes(has("out") ? stdout : stderr, text.toUtf8());
        } else if (has("outRaw")) {
            emitBytes(stdout, decodeBase64(at("outRaw")));
        } else if (has("errRaw")) {
            emitBytes(stderr, decodeBase64(at("errRaw")));
        } else if (has("sleep")) {
            QThread::msleep(static_cast<unsigned long>(number(at("sleep"), 0, 0, 3'600'000)));
        } else if (has("write")) {
            writeFile(step, iteration);
        } else if (has("repeat")) {
            const qint64 count = number(at("repeat"), 0, 0, 100'000'000);
            for (qint64 i = 0; i < count; ++i)
                runSteps(at("steps"), i);
        } else if (has("signal")) {
            const int signo = signalNamed(at("signal").toString());
            // Sanitizers catch SEGV themselves and exit normally; the caller must see a real crash.
            std::signal(signo, SIG_DFL);
            std::raise(signo);
            throw scenarioError(QStringLiteral("signal %1 did not end the process").arg(signo));
        } else {
            const QString text = QString::fromUtf8(QJsonDocument(step).toJson(QJsonDocument::Compact));
            throw scenarioError(QStringLiteral("unknown step ") + text);
        }
    }

    void writeFile(const QJsonObject& step, qint64 iteration)
    {
        const QString path = expand(step.value(QLatin1String("write")).toString(), iteration);
        QByteArray content;
        const bool hasContent = step.contains(QLatin1String("text")) || step.contains(QLatin1String("base64"))
                                || step.contains(QLatin1String("from"));
        if (step.contains(QLatin1String("text"))) {
            content = expand(step.value(QLatin1String("text")).toString(), iteration).toUtf8();
        } else if (step.contains(QLatin1String("base64"))) {
            content = decodeBase64(step.value(QLatin1String("base64")));
        } else if (step.contains(QLatin1String("from"))) {
            // Keeps a large file out of the scenario, which every call reads whole.
            QFile source(expand(step.value(QLatin1String("from")).toString(), iteration));
            if (!source.open(QIODevice::ReadOnly))
                throw scenarioError(QStringLiteral("cannot read %1: %2").arg(source.fileName(), source.errorString()));
            content = source.readAll();
        }
        const qint64 total =
            hasContent ? content.size() : number(step.value(QLatin1String("bytes")), 0, 0, qint64{1} << 40);
        const qint64 chunks = number(step.value(QLatin1String("chunks")), 1, 1, 1'000'000);
        const qint64 interval = number(step.value(QLatin1String("interval")), 0, 0, 3'600'000);

        // Like the real tools: a missing folder is the caller's fault, not something to paper over.
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            throw Failure{1, QStringLiteral("open failed: ") + path};
        static const QByteArray filler(64 * 1024, 'x');
        qint64 written = 0;
        for (qint64 chunk = 1; chunk <= chunks; ++chunk) {
            const qint64 end = total / chunks * chunk + total % chunks * chunk / chunks;
            while (written < end) {
                const qint64 size = std::min<qint64>(end - written, filler.size());
                const QByteArray piece = hasContent ? content.mid(written, size) : filler.left(size);
                if (file.write(piece) != size)
                    throw Failure{1, QStringLiteral("write failed: ") + path};
                written += size;
            }
            if (!file.flush())
                throw Failure{1, QStringLiteral("write failed: ") + path};
            if (chunk < chunks)
                QThread::msleep(static_cast<unsigned long>(interval));
        }
    }

    QString m_tool;
    QStringList m_args;
    QString m_dir;
    QJsonObject m_scenario;
    QJsonObject m_state;
};

// The folder is taken from the path as invoked, not the symlink's target: the scenario lives
// beside the installed names, not beside the built program.
QString scenarioPathFor(const QString& invoked)
{
    const QString fromEnvironment = qEnvironmentVariable("QUORREL_STANDIN_SCENARIO");
    if (!fromEnvironment.isEmpty())
        return fromEnvironment;
    QString location = invoked;
    if (!invoked.contains(QLatin1Char('/'))) {
        const QString found = QStandardPaths::findExecutable(invoked);
        if (!found.isEmpty())
            location = found;
    }
    return QFileInfo(location).absolutePath() + QLatin1String("/standin.json");
}

} // namespace

int main(int argc, char** argv)
{
    try {
        const QString invoked = argc > 0 ? QFile::decodeName(argv[0]) : QString();
        QStringList args;
        for (int i = 1; i < argc; ++i)
            args.append(QFile::decodeName(argv[i]));
        Call call(QFileInfo(invoked).fileName(), args, scenarioPathFor(invoked));
        return call.run();
    } catch (const Failure& failure) {
        emitBytes(stderr, failure.message.toUtf8() + '\n');
        return failure.exitCode;
    } catch (const std::exception& error) {
        emitBytes(stderr, QByteArray("standin: ") + error.what() + '\n');
        return 127;
    }
}
