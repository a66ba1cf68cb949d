#include "support/StandinTools.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

struct Result {
    QByteArray out;
    QByteArray err;
    int exitCode = -1;
    QProcess::ExitStatus exitStatus = QProcess::NormalExit;
};

QJsonObject scenario(const char* json)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << qPrintable(error.errorString());
    return document.object();
}

void startClean(QProcess& process, const QString& program, const QStringList& args)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("QUORREL_STANDIN_SCENARIO"));
    process.setProcessEnvironment(environment);
    process.start(program, args);
}

Result finish(QProcess& process)
{
    if (process.state() != QProcess::NotRunning) {
        EXPECT_TRUE(process.waitForFinished(10000)) << "the stand-in did not finish";
    }
    return {process.readAllStandardOutput(), process.readAllStandardError(), process.exitCode(), process.exitStatus()};
}

Result run(const StandinTools& tools, const QString& tool, const QStringList& args)
{
    QProcess process;
    startClean(process, tools.path(tool), args);
    return finish(process);
}

QStringList words(const char* text)
{
    return QString::fromUtf8(text).split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

} // namespace

TEST(Standin, ChoosesExactArgumentsThenPatternThenDefaultRule)
{
    QTemporaryDir dir;
    StandinTools tools(dir.path());
    tools.setScenario(scenario(R"({"rules": [
        {"tool": "cfgutil", "args": ["list"], "steps": [{"out": "exact"}]},
        {"tool": "idevice_id", "args": ["-l"], "steps": [{"out": "other tool"}]},
        {"tool": "cfgutil", "match": "^--ecid \\d+ get", "steps": [{"out": "pattern"}]},
        {"tool": "cfgutil", "steps": [{"out": "default"}], "exit": 2}
    ]})"));

    EXPECT_EQ(run(tools, QStringLiteral("cfgutil"), words("list")).out, "exact\n");
    EXPECT_EQ(run(tools, QStringLiteral("cfgutil"), words("--ecid 42 get name")).out, "pattern\n");
    const Result fallback = run(tools, QStringLiteral("cfgutil"), words("list extra"));
    EXPECT_EQ(fallback.out, "default\n");
    EXPECT_EQ(fallback.exitCode, 2);

    const Result unmatched = run(tools, QStringLiteral("ideviceinfo"), words("-u abc"));
    EXPECT_EQ(unmatched.exitCode, 127);
    EXPECT_EQ(unmatched.err, "standin: no rule for ideviceinfo -u abc\n");
    const QList<QStringList> expectedCalls{words("list"), words("--ecid 42 get name"), words("list extra")};
    EXPECT_EQ(tools.calls(QStringLiteral("cfgutil")), expectedCalls);
    EXPECT_EQ(tools.calls(QStringLiteral("ideviceinfo")), QList<QStringList>{words("-u abc")});
}

TEST(Standin, RulesFollowAndChangeState)
{
    QTemporaryDir dir;
    StandinTools tools(dir.path());
    tools.setScenario(scenario(R"({"state": {"signedIn": "no"}, "rules": [
        {"tool": "ipatool", "match": "auth info", "requires": {"signedIn": "yes"},
         "steps": [{"out": "{\"email\":\"{state:account}\"}"}]},
        {"tool": "ipatool", "match": "auth info", "steps": [{"err": "not signed in"}], "exit": 1},
        {"tool": "ipatool", "match": "auth login", "set": {"signedIn": "yes", "account": "{opt:--email}"}},
        {"tool": "ipatool", "match": "purchase", "times": 1, "steps": [{"err": "license is required"}], "exit": 1},
        {"tool": "ipatool", "match": "purchase", "steps": [{"out": "purchased"}]}
    ]})"));
    const auto ipatool = [&](const char* args) { return run(tools, QStringLiteral("ipatool"), words(args)); };

    EXPECT_EQ(tools.state(QStringLiteral("signedIn")), QStringLiteral("no"));
    EXPECT_EQ(ipatool("auth info").exitCode, 1);
    EXPECT_EQ(ipatool("auth login --email a@b.c --password x").exitCode, 0);
    EXPECT_EQ(ipatool("auth info").out, "{\"email\":\"a@b.c\"}\n");
    EXPECT_EQ(tools.state(QStringLiteral("signedIn")), QStringLiteral("yes"));

    tools.setState(QStringLiteral("signedIn"), QStringLiteral("no"));
    EXPECT_EQ(ipatool("auth info").err, "not signed in\n");

    EXPECT_EQ(ipatool("purchase -b x").err, "license is required\n");
    EXPECT_EQ(ipatool("purchase -b x").out, "purchased\n");
    // A new scenario starts its rules' counts afresh.
    tools.setScenario(scenario(R"({"rules": [{"tool": "ipatool", "times": 1, "exit": 4}]})"));
    EXPECT_EQ(ipatool("purchase").exitCode, 4);
    EXPECT_EQ(ipatool("purchase").exitCode, 127);
}

TEST(Standin, WritesFileGraduallyWhilePrintingAsItGoes)
{
    QTemporaryDir dir;
    StandinTools tools(dir.path());
    tools.setScenario(scenario(R"({"rules": [{"tool": "ipatool", "steps": [
        {"out": "downloading {arg:1} to {opt:--output}"},
        {"write": "{opt:--output}", "bytes": 100000, "chunks": 10, "interval": 100},
        {"out": "saved {opt:-x}|{arg:9}|{arg:x}|{nope}|{i}|{dir}"}
    ]}]})"));
    const QString target = dir.filePath(QStringLiteral("out/app.ipa"));
    QDir(dir.path()).mkpath(QStringLiteral("out"));

    QProcess process;
    startClean(process, tools.path(QStringLiteral("ipatool")),
               {QStringLiteral("download"), QStringLiteral("com.x"), QStringLiteral("--output=") + target});
    ASSERT_TRUE(process.waitForReadyRead(5000));
    EXPECT_EQ(process.state(), QProcess::Running);
    EXPECT_EQ(process.readAllStandardOutput(), QStringLiteral("downloading com.x to %1\n").arg(target).toUtf8());
    QList<qint64> partialSizes;
    while (!process.waitForFinished(20)) {
        const qint64 size = QFileInfo(target).size();
        if (size > 0 && size < 100000 && process.state() == QProcess::Running)
            partialSizes.append(size);
    }
    const Result result = finish(process);
    EXPECT_GE(partialSizes.size(), 3);
    EXPECT_EQ(QFileInfo(target).size(), 100000);
    EXPECT_EQ(result.out, QStringLiteral("saved ||{arg:x}|{nope}|{i}|%1\n").arg(tools.resourceDir()).toUtf8());
}

TEST(Standin, BrokenScenarioIsReportedNotCrashedOn)
{
    QTemporaryDir dir;
    StandinTools tools(dir.path());
    const auto runWith = [&](const QString& scenarioPath) {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QUORREL_STANDIN_SCENARIO"), scenarioPath);
        process.setProcessEnvironment(environment);
        process.start(tools.path(QStringLiteral("ipatool")), {QStringLiteral("auth"), QStringLiteral("info")});
        return finish(process);
    };

    const Result missing = runWith(dir.filePath(QStringLiteral("nowhere.json")));
    EXPECT_EQ(missing.exitStatus, QProcess::NormalExit);
    EXPECT_EQ(missing.exitCode, 127);
    const QByteArray expected =
        "standin: cannot read scenario " + dir.filePath(QStringLiteral("nowhere.json")).toUtf8();
    EXPECT_TRUE(missing.err.startsWith(expected)) << missing.err.constData();

    QFile garbage(dir.filePath(QStringLiteral("garbage.json")));
    ASSERT_TRUE(garbage.open(QIODevice::WriteOnly));
    garbage.write("{\"rules\": [");
    garbage.close();
    const Result unparsable = runWith(garbage.fileName());
    EXPECT_EQ(unparsable.exitCode, 127);
    EXPECT_TRUE(unparsable.err.contains("is not valid JSON")) << unparsable.err.constData();

    // Odd steps and values are scenario mistakes to report, not reasons to crash.
    tools.setScenario(scenario(R"({"rules": [
        {"tool": "ipatool", "args": ["a"], "steps": [{"bogus": 1}]},
        {"tool": "ipatool", "args": ["b"], "steps": [{"outRaw": "%%%"}]},
        {"tool": "ipatool", "args": ["c"], "match": "(", "steps": []},
        {"tool": "ipatool", "args": ["d"], "steps": [{"sleep": -5}, {"signal": "NOPE"}]}
    ]})"));
    for (const char* arg : {"a", "b", "c", "d"}) {
        const Result result = run(tools, QStringLiteral("ipatool"), {QString::fromLatin1(arg)});
        EXPECT_EQ(result.exitStatus, QProcess::NormalExit) << arg;
        EXPECT_EQ(result.exitCode, 127) << arg;
        EXPECT_TRUE(result.err.startsWith("standin: ")) << arg << ": " << result.err.constData();
    }
}
