#include "update/Updater.h"

#include "common/AtomicFile.h"
#include "common/SystemError.h"
#include "process/ToolError.h"
#include "support/HttpServer.h"
#include "support/UpdateFixture.h"
#include "update/UpdateError.h"

#include <QTcpServer>
#include <QThread>

#include <unistd.h>

using namespace UpdateFixture;

namespace {

const QByteArray oldExecutable = "#!/bin/sh\necho old > \"$(dirname \"$0\")/../../../started\"\n";
const QByteArray newExecutable = "#!/bin/sh\necho new > \"$(dirname \"$0\")/../../../started\"\n";
const QString digest = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";

/// The published manifest of build 16 with the keys of `change` set; a null takes the key out.
QJsonObject manifest(const QString& change = "{}")
{
    QJsonObject manifest = QJsonDocument::fromJson(R"({"version":"1.3","build":16,"notes":"Исправлены ошибки",
        "date":"2025-03-04T05:06:07+03:00","url":"https://example.com/Quorrel-16.zip","signature":"c2lnbmVk",
        "size":12345678,"page":"https://example.com/releases/16","ignored":true})")
                               .object();
    manifest.insert("sha256", digest.toUpper());
    const QJsonObject with = QJsonDocument::fromJson(change.toUtf8()).object();
    for (auto it = with.begin(); it != with.end(); ++it) {
        if (it->isNull())
            manifest.remove(it.key());
        else
            manifest.insert(it.key(), *it);
    }
    return manifest;
}

std::optional<UpdateInfo> parse(const QString& change = "{}")
{
    return UpdateInfo::fromManifest(QJsonDocument(manifest(change)).toJson());
}

struct Fixture {
    Sandbox sandbox;
    HttpServer server;
    QString folder; // holds the running bundle
    QString bundle;
    QString staging = sandbox.path("staging"); // what the archives are made of
    bool quitAsked = false;

    explicit Fixture(const QString& folderName = "Applications")
        : folder(sandbox.path(folderName))
        , bundle(folder + "/Quorrel.app")
    {
        writeBundle(bundle, infoPlist(bundleID, "1.2", "15"), oldExecutable);
    }

    Updater updater(std::optional<qint64> processID = std::nullopt)
    {
        return Updater(
            {server.url("/appcast.json"), bundle, [this] { quitAsked = true; }, processID, releaseKey().publicKey});
    }

    void serve(const QJsonObject& manifest)
    {
        server.setResponse("/appcast.json", HttpServer::Response::json(QJsonDocument(manifest).toJson()));
    }

    /// The record of build 16 whose archive is `bytes`, served at /Quorrel-16.zip.
    UpdateInfo offer(const QByteArray& bytes, std::optional<QString> checksum = std::nullopt)
    {
        server.setResponse("/Quorrel-16.zip", HttpServer::Response::text(bytes, "application/zip"));
        const QUrl url = server.url("/Quorrel-16.zip");
        return {"1.3", 16, {}, std::nullopt, url, checksum.value_or(sha256(bytes)), signature(bytes), 0, std::nullopt};
    }

    /// An archive of the new build as the maker publishes it.
    QByteArray goodArchive()
    {
        writeBundle(staging + "/Quorrel.app", infoPlist(bundleID, "1.3", "16"), newExecutable);
        return zip(staging, {"Quorrel.app"});
    }
};

QString updateFailure(Updater& updater, const UpdateInfo& info, QList<double>* progress = nullptr)
{
    QList<double> ignored;
    QList<double>& seen = progress ? *progress : ignored;
    return failureOf([&] { AsyncTest::await(updater.download(info, [&](double p) { seen.append(p); })); });
}

} // namespace

TEST(UpdateCheck, ReadsTheManifestAndOffersOnlyAStrictlyNewerBuildWhateverTheVersionSays)
{
    EXPECT_EQ(parse(),
              (UpdateInfo{"1.3", 16, "Исправлены ошибки", QDateTime(QDate(2025, 3, 4), QTime(2, 6, 7), Qt::UTC),
                          QUrl("https://example.com/Quorrel-16.zip"), digest, "c2lnbmVk", 12345678,
                          QUrl("https://example.com/releases/16")}));

    const UpdateInfo bare{"1.3",  16,         {}, std::nullopt, QUrl("https://example.com/Quorrel-16.zip"),
                          digest, "c2lnbmVk", 0,  std::nullopt};
    EXPECT_EQ(parse(R"({"notes":null,"date":null,"size":null,"page":null})"), bare);
    for (const char* date : {"2025-03-04", "2025-03-04T05:06:07", "2025-03-04T05:06:07.5Z", "4 March 2025"}) {
        const QString change = R"({"notes":5,"size":"12345678","page":"not a page","date":"%1"})";
        EXPECT_EQ(parse(change.arg(date)), bare) << date;
    }
    for (const char* change : {R"({"version":null})", R"({"build":null})", R"({"url":null})", R"({"sha256":null})",
                               R"({"version":1.3})", R"({"build":16.5})", R"({"build":"16"})", R"({"url":""})",
                               R"({"url":"http://exa mple.com/a b"})", R"({"sha256":42})"})
        EXPECT_EQ(parse(change), std::nullopt) << change;
    for (const char* text : {"[1]", "{\"version\":"})
        EXPECT_EQ(UpdateInfo::fromManifest(text), std::nullopt) << text;

    Fixture f;
    Updater updater = f.updater();
    f.serve(manifest(R"({"version":"0.1"})"));
    EXPECT_EQ(AsyncTest::await(updater.checkForUpdate()).value_or(UpdateInfo{}).build, 16);
    for (int build : {15, 14}) {
        f.serve(manifest(QString(R"({"build":%1,"version":"99.0"})").arg(build)));
        EXPECT_EQ(AsyncTest::await(updater.checkForUpdate()), std::nullopt) << build;
    }
    f.server.setResponse("/appcast.json", HttpServer::Response::text("<html>maintenance</html>", "text/html"));
    EXPECT_EQ(failureOf([&] { AsyncTest::await(updater.checkForUpdate()); }),
              "Сервер обновлений ответил чем-то неожиданным");

    // A running bundle without a usable build number takes any published build.
    writeFile(f.bundle + "/Contents/Info.plist", infoPlist(bundleID, "1.2", "dev"));
    f.serve(manifest(R"({"build":1})"));
    EXPECT_TRUE(AsyncTest::await(f.updater().checkForUpdate()));

    writeFile(f.bundle + "/Contents/Info.plist", "<plist><dict><key>CFBundleVersion</key><integer>15</integer>");
    const Updater broken = f.updater();
    EXPECT_EQ(QStringList({broken.currentVersion(), QString::number(broken.currentBuild())}), QStringList({"0", "0"}));
    EXPECT_EQ(broken.bundleIdentifier(), std::nullopt);
    QList<qint64> builds;
    for (const char* text :
         {"+15", "-3", "9223372036854775807", "", "1.2", " 15", "15a", "9223372036854775808", "+", "٣"})
        builds.append(Updater::parseBuild(text));
    EXPECT_EQ(builds, (QList<qint64>{15, -3, 9223372036854775807, 0, 0, 0, 0, 0, 0, 0}));

    QTcpServer closed;
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost));
    const QUrl nowhere(QString("http://127.0.0.1:%1/appcast.json").arg(closed.serverPort()));
    closed.close();
    EXPECT_THROW(AsyncTest::await(Updater({nowhere, f.bundle, {}, {}, {}}).fetchLatest()), SystemError);
}

TEST(UpdateDownload, OnlyAnArchiveWithItsChecksumAndSignatureIsUnpackedReportingProgressAtEachStage)
{
    Fixture f;
    Updater updater = f.updater();
    const QByteArray archive = f.goodArchive();
    const auto before = snapshot(f.folder);
    const QString good = signature(archive);
    const QString forged = "Подпись обновления не сошлась — файл подменён или повреждён. Обновление отменено.";
    const QString badSum =
        "Контрольная сумма не сошлась — файл скачался повреждённым или подменён. Обновление отменено.";
    const std::tuple<const char*, std::optional<QString>, QString, QString> cases[] = {
        {"wrong checksum", QString(64, '0'), good, badSum},
        {"blanks around the checksum", " " + sha256(archive) + " ", good, badSum},
        {"unsigned", std::nullopt, "", "Обновление не подписано — ставить его нельзя. Обновление отменено."},
        {"a stranger's key", std::nullopt, UpdateSignature::sign(archive, UpdateSignature::generate().secretKey),
         forged},
        {"other bytes signed", std::nullopt, signature(archive + "x"), forged},
        {"cut signature", std::nullopt, good.left(good.size() - 8), forged},
    };
    for (const auto& [name, checksum, signedWith, failure] : cases) {
        UpdateInfo offer = f.offer(archive, checksum);
        offer.signature = signedWith;
        QList<double> progress;
        EXPECT_EQ(updateFailure(updater, offer, &progress), failure) << name;
        // An unsigned offer is not even fetched.
        EXPECT_EQ(progress, signedWith.isEmpty() ? QList<double>{} : QList<double>{0.6}) << name;
    }
    UpdateInfo missing = f.offer(archive);
    missing.url = f.server.url("/gone.zip");
    EXPECT_EQ(updateFailure(updater, missing), "Сервер обновлений ответил чем-то неожиданным");
    EXPECT_EQ(f.sandbox.tmpEntries("quorrel-*"), QStringList{}) << "nothing was downloaded or unpacked";
    EXPECT_EQ(snapshot(f.folder), before);

    // A build without a key installs nothing, however well the archive is signed.
    f.server.clearRequests();
    Updater keyless({f.server.url("/appcast.json"), f.bundle, {}, {}, std::nullopt});
    EXPECT_EQ(updateFailure(keyless, f.offer(archive)),
              "Эта сборка ставит обновления только из подписанного выпуска — скачай новую версию со страницы проекта");
    EXPECT_TRUE(f.server.requests("/Quorrel-16.zip").isEmpty());

    const UpdateInfo offer = f.offer(archive);
    QList<double> progress;
    const QString app = AsyncTest::await(updater.download(offer, [&](double p) { progress.append(p); }));
    EXPECT_EQ(progress, (QList<double>{0.6, 0.75, 0.9, 1.0}));
    EXPECT_EQ(Updater::workFolderPrefix(16), f.sandbox.tmp() + "/quorrel-update-16-");
    const QString work = QRegularExpression::escape(Updater::workFolderPrefix(16));
    EXPECT_TRUE(app.contains(QRegularExpression("^" + work + "[^/]+/unpacked/Quorrel.app$"))) << app.toStdString();
    EXPECT_TRUE(f.sandbox.tmpEntries("quorrel-download-*").isEmpty());
    // Downloading the same build again works in a folder of its own and leaves the first alone.
    EXPECT_NE(AsyncTest::await(updater.download(offer)), app);
    EXPECT_TRUE(QFile::exists(app + "/Contents/MacOS/Quorrel"));
}

TEST(UpdateDownload, AnArchiveWithoutThisAppAtItsTopLevelOrEscapingTheWorkFolderChangesNothing)
{
    Fixture f;
    Updater updater = f.updater();
    const auto before = snapshot(f.folder);
    const QByteArray good = infoPlist(bundleID, "1.3", "16");
    // A bundle under the staging folder, whose first part is what the archive holds.
    const std::tuple<const char*, QString, QByteArray> cases[] = {
        {"in a subfolder", "Release/Quorrel.app", good},
        {"another identifier", "Quorrel.app", infoPlist("com.example.Other", "1.3", "16")},
        {"no identifier", "Quorrel.app", infoPlist(std::nullopt, "1.3", "16")},
        {"broken Info.plist", "Quorrel.app", "<plist><dict><key>CFBundleIdentifier</key>"},
        {"Info.plist not a dictionary", "Quorrel.app", "<plist><array/></plist>"},
        {"upper-case extension", "Quorrel.APP", good},
        {"a link to a bundle elsewhere", "Quorrel.app", {}},
    };
    for (const auto& [name, bundle, plist] : cases) {
        QDir(f.staging).removeRecursively();
        QDir().mkpath(f.staging);
        if (plist.isEmpty())
            QFile::link(f.bundle, f.staging + "/" + bundle);
        else
            writeBundle(f.staging + "/" + bundle, plist);
        const QByteArray archive = zip(f.staging, {bundle.section('/', 0, 0)});
        EXPECT_EQ(updateFailure(updater, f.offer(archive)), "В архиве нет приложения «Quorrel»") << name;
    }

    const QString victim = f.sandbox.path("victim");
    QDir().mkpath(victim);
    QDir(f.staging).removeRecursively();
    writeBundle(f.staging + "/Quorrel.app", good, newExecutable);
    writeFile(f.staging + "/payload", "#!/bin/sh\necho owned\n", true);
    QFile::link(victim, f.staging + "/link");
    // Someone else's link under a work folder's name is never used.
    writeFile(victim + "/keep", "mine");
    QFile::link(victim, Updater::workFolderPrefix(16) + "AAAAAA");

    const QString upward = "../../../victim/evil"; // from <work>/unpacked up to the sandbox
    const QByteArray dotDot = zip(f.staging, {"Quorrel.app", "payload"}, {"-s", ",^payload$," + upward + ","});
    EXPECT_TRUE(updateFailure(updater, f.offer(dotDot)).contains("..")) << "bsdtar refuses a '..' entry";

    const QByteArray absolute =
        zip(f.staging, {"Quorrel.app", "payload"}, {"-P", "-s", ",^payload$," + victim + "/abs,"});
    AsyncTest::await(updater.download(f.offer(absolute))); // the leading "/" is dropped: it lands inside

    const QByteArray throughLink = zip(f.staging, {"Quorrel.app", "link", "payload"}, {"-s", ",^payload$,link/evil,"});
    EXPECT_THROW(AsyncTest::await(updater.download(f.offer(throughLink))), ToolError);

    EXPECT_EQ(QDir(victim).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList{"keep"});
    EXPECT_EQ(snapshot(f.folder), before);
}

TEST(UpdateInstall, TheSwapScriptReplacesTheBundleOnceTheOldProcessHasGoneAndAFolderTheUserCannotWriteIsReportedFirst)
{
    // Every character the shell treats specially inside double quotes, plus a blank and a quote.
    Fixture f("Apps \"q\" $HOME `id` 'x'");
    Updater updater = f.updater();
    const UpdateInfo offer = f.offer(f.goodArchive());
    const QString app = AsyncTest::await(updater.download(offer));

    QProcess oldProcess; // stands in for the running application
    oldProcess.start("sleep", {"2"});
    ASSERT_TRUE(oldProcess.waitForStarted());
    Updater installer = f.updater(oldProcess.processId());
    installer.installAndRestart(app);
    EXPECT_TRUE(f.quitAsked);

    const QStringList scripts = f.sandbox.tmpEntries("quorrel-swap-*.sh");
    ASSERT_EQ(scripts.size(), 1);
    EXPECT_EQ(scripts[0].size(), QString("quorrel-swap-.sh").size() + 36) << "a name no one can guess ahead";
    // rwxr-xr-x: QFile's owner, group and other digits.
    EXPECT_EQ(QFileInfo(f.sandbox.tmp() + "/" + scripts[0]).permissions().toInt() & 0x7077, 0x7055);

    // Nothing moves while the old process still runs.
    QThread::msleep(400);
    EXPECT_EQ(snapshot(f.bundle)["Contents/MacOS/Quorrel"], oldExecutable);
    ASSERT_TRUE(oldProcess.waitForFinished());

    // The started copy creates its marker before it writes to it: wait for the whole line.
    const auto startedBy = [&] { return AtomicFile::read(f.folder + "/started").value_or(""); };
    ASSERT_TRUE(AsyncTest::waitUntil(
        [&] { return startedBy().endsWith('\n') && f.sandbox.tmpEntries("quorrel-swap-*").isEmpty(); },
        std::chrono::seconds(20)));
    EXPECT_EQ(startedBy(), "new\n") << "the swapped bundle's executable writes next to it";
    EXPECT_EQ(QDir(f.folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
              (QStringList{"Quorrel.app", "started"}));

    // A folder the user cannot write is reported before any script; root writes anywhere, so it gets none at all.
    f.quitAsked = false;
    if (::geteuid() == 0)
        QDir(f.folder).removeRecursively();
    else
        QFile::setPermissions(f.folder, QFile::ReadOwner | QFile::ExeOwner);
    EXPECT_EQ(failureOf([&] { updater.installAndRestart(f.sandbox.path("new/Quorrel.app")); }),
              "Не удалось заменить " + f.bundle + ". Перетащи новую версию в Программы вручную.");
    QFile::setPermissions(f.folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    EXPECT_EQ(f.sandbox.tmpEntries("quorrel-swap-*"), QStringList{});
    EXPECT_FALSE(f.quitAsked);
}
