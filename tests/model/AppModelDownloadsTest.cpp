#include "model/AppModel.h"

#include "ModelTestSupport.h"
#include "common/AtomicFile.h"
#include "process/Tools.h"
#include "store/ArtworkService.h"
#include "support/Processes.h"
#include "support/QtPrinters.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>

#include <gtest/gtest.h>

using namespace ModelTest;

namespace {

const AppModel::Target freeApp{564177498, "com.example.free", "Бесплатное", true};
const AppModel::Target paidApp{111222333, "com.example.paid", "Платное", true};

// As ipatool does: the bytes go to "<destination>.tmp", which then becomes the destination.
QJsonArray downloadSteps(int bytes, int chunks, int interval)
{
    return {QJsonObject{{"write", "{opt:-o}.tmp"}, {"bytes", bytes}, {"chunks", chunks}, {"interval", interval}},
            QJsonObject{{"write", "{opt:-o}"}, {"from", "{opt:-o}.tmp"}}, reportsSaved()};
}

struct Fixture {
    TempHome home;
    StandinTools tools{home.resourceDirectory(), {"ipatool"}};
    AppModel model;
    QList<AppActivity> seen;

    explicit Fixture(const QJsonArray& rules)
    {
        tools.setScenario(scenario(rules));
        QObject::connect(&model, &AppModel::activitiesChanged, [this] {
            for (const AppActivity& activity : model.activities())
                seen.append(activity);
        });
    }
    QStringList ipaFiles() const { return QDir(Tools::downloadsDirectory()).entryList(QDir::Files); }
};

QJsonArray versionRules(qint64 appID, int count, int metadataDelayMs = 0)
{
    QJsonArray ids;
    for (int i = 0; i < count; ++i)
        ids.append(QString::number(800 + i));
    QJsonArray rules{rule("ipatool", QString("list-versions -i %1$").arg(appID),
                          {out(ipatoolLine({{"externalVersionIdentifiers", ids}, {"success", true}}))})};
    for (int i = 0; i < count; ++i) {
        const QString id = QString::number(800 + i);
        const QString pattern = QString("get-version-metadata -i %1 --external-version-id %2$").arg(appID).arg(id);
        rules.append(rule("ipatool", pattern,
                          {sleepFor(metadataDelayMs), out(ipatoolLine({{"displayVersion", QString("1.%1").arg(i)},
                                                                       {"releaseDate", "2020-01-02T03:04:05Z"},
                                                                       {"success", true}}))}));
    }
    return rules;
}

} // namespace

TEST(AppModelDownloads, FileNamesFollowBundleAndVersion)
{
    TempHome home;
    const auto name = [](const AppModel::Target& target, std::optional<AppVersion> version) {
        return QFileInfo(AppModel::fileURL(target, version)).fileName();
    };
    EXPECT_EQ(name(freeApp, AppVersion{"800", QString("2.1"), std::nullopt}), "com.example.free_2.1.ipa");
    EXPECT_EQ(name(freeApp, AppVersion{"800", std::nullopt, std::nullopt}), "com.example.free_800.ipa");
    EXPECT_EQ(name({564177498, "", "App 564177498", true}, std::nullopt), "app-564177498_latest.ipa");
    EXPECT_EQ(name(freeApp, AppVersion{"1", QString("1.0 beta 1/2"), std::nullopt}),
              "com.example.free_1.0_beta_1-2.ipa");
    EXPECT_EQ(QFileInfo(AppModel::fileURL(freeApp, std::nullopt)).path(), Tools::downloadsDirectory());
}

TEST(AppModelDownloads, DownloadReportsGrowingBytesOfTheStoresSizeThenDoneAndRemembersTheAppId)
{
    Fixture f({downloadRule("564177498 ", downloadSteps(400000, 8, 120))});
    ArtworkService::Cache cache;
    cache.insert(freeApp.adamID,
                 {QString("https://example.com/i.png"), std::nullopt, 400000, QDateTime::currentDateTimeUtc()});
    ASSERT_TRUE(
        AtomicFile::write(QDir(Tools::cacheDirectory()).filePath("artwork.json"), ArtworkService::encode(cache)));
    // Left by another build: ipatool would resume its ".tmp" with that build's bytes.
    const QString destination = AppModel::fileURL(freeApp, std::nullopt);
    for (const QString& stale : QStringList{destination + ".tmp", destination + ".k3x9.part.tmp"})
        ASSERT_TRUE(QFile(stale).open(QIODevice::WriteOnly));
    const auto path = AsyncTest::await(f.model.download(freeApp, std::nullopt));
    ASSERT_EQ(path, destination);
    EXPECT_EQ(QFileInfo(*path).size(), 400000);
    EXPECT_EQ(f.ipaFiles(), QStringList{"com.example.free_latest.ipa"}) << "nothing left under a temporary name";

    ASSERT_GE(f.seen.size(), 3);
    EXPECT_EQ(f.seen.first(), AppActivity::downloading(0, 400000));
    EXPECT_EQ(f.seen.last(), AppActivity::done("Скачано"));
    qint64 previous = -1;
    int growing = 0;
    QSet<qint64> totals;
    for (const AppActivity& activity : f.seen) {
        if (activity.kind != AppActivity::Kind::downloading)
            continue;
        EXPECT_GE(activity.bytes, previous);
        growing += activity.bytes > previous && activity.bytes > 0;
        previous = activity.bytes;
        totals.insert(activity.total);
    }
    EXPECT_GE(growing, 2) << "the byte count rose while the tool wrote";
    EXPECT_EQ(totals, QSet<qint64>{400000}) << "every report keeps the size";
    EXPECT_EQ(AppActivity::downloading(100, 400).fraction(), 0.25);
    EXPECT_EQ(AppActivity::downloading(500, 400).fraction(), std::nullopt) << "a wrong size is not shown";
    EXPECT_TRUE(f.model.downloadedBundleIDs().contains("com.example.free"));
    EXPECT_EQ(logTexts(f.model).last(), "Бесплатное: скачано в com.example.free_latest.ipa");
    ASSERT_EQ(f.model.knownApps().size(), 1);
    EXPECT_EQ(f.model.knownApps()[0].source, "скачано");

    // A late size report after the end leaves the final state alone.
    EXPECT_FALSE(AsyncTest::waitUntil([&] { return f.model.activity(freeApp.adamID) != AppActivity::done("Скачано"); },
                                      std::chrono::milliseconds(400)));

    // The file is there now: reused, the tool not asked again.
    const qsizetype calls = f.tools.calls("ipatool").size();
    EXPECT_EQ(AsyncTest::await(f.model.download(freeApp, std::nullopt)), path);
    EXPECT_EQ(f.tools.calls("ipatool").size(), calls);
    EXPECT_EQ(logTexts(f.model).last(), "Бесплатное: файл уже скачан");

    // The store's size is its current build's; an older one may be any size.
    f.seen.clear();
    ASSERT_TRUE(AsyncTest::await(f.model.download(freeApp, AppVersion{"800", QString("1.0"), std::nullopt})));
    EXPECT_TRUE(f.seen.contains(AppActivity::downloading(0)));
    for (const AppActivity& activity : std::as_const(f.seen))
        EXPECT_TRUE(activity.kind != AppActivity::Kind::downloading || activity.total == 0);
}

TEST(AppModelDownloads, ALicenceIsObtainedForAnyHistoryAppAndAFailedRequestSaysSo)
{
    Fixture f({downloadRule("564177498 .* --purchase$", downloadSteps(1000, 1, 0)),
               downloadRule(".* --purchase$", {out(failure("purchasing paid apps is not supported"))}, 1),
               downloadRule(".*", {out(failure("license is required"))}, 1)});
    ASSERT_TRUE(AsyncTest::await(f.model.download(freeApp, std::nullopt)));
    EXPECT_TRUE(logTexts(f.model).contains("Бесплатное: получаю лицензию…"));
    EXPECT_EQ(f.model.activity(freeApp.adamID), AppActivity::done("Скачано"));

    // The history knows no prices (ipatool lists 0), so a paid app is tried too, and refused plainly.
    EXPECT_TRUE(AppModel::Target::from(PurchasedApp{7, "b", "Купленное", "1", 2.99, {}, {}, {}, false}).isFree);
    EXPECT_FALSE(AsyncTest::await(f.model.download(paidApp, std::nullopt)));
    const QString refusal = "Не удалось получить лицензию: purchasing paid apps is not supported";
    EXPECT_EQ(f.model.activity(paidApp.adamID), AppActivity::failed(refusal));
    EXPECT_EQ(f.model.log().last().text, "Платное: " + refusal);
}

TEST(AppModelDownloads, AFailedOrCancelledDownloadLeavesNoFileThatCouldPassForAFinishedOne)
{
    // Half the file, then the tool gives up.
    Fixture f({downloadRule("564177498 ",
                            {downloadSteps(500000, 5, 20).first(), out(failure("connection reset by peer"))}, 1),
               downloadRule(".*", downloadSteps(1000000, 100, 100))});
    EXPECT_FALSE(AsyncTest::await(f.model.download(freeApp, std::nullopt)));
    EXPECT_TRUE(f.ipaFiles().isEmpty());
    // The tool's English words follow a Russian phrase that says what failed.
    EXPECT_EQ(f.model.activity(freeApp.adamID), AppActivity::failed("Загрузка не удалась: connection reset by peer"));
    EXPECT_FALSE(f.model.downloadedBundleIDs().contains("com.example.free"));
    // So the next attempt really downloads instead of reusing a broken file.
    EXPECT_FALSE(AsyncTest::await(f.model.download(freeApp, std::nullopt)));
    EXPECT_EQ(f.tools.calls("ipatool").size(), 2);

    // Cancelled: neither done nor failed, and no tool left running.
    auto download = f.model.download(paidApp, std::nullopt);
    ASSERT_TRUE(AsyncTest::waitUntil([&] { return f.model.activity(paidApp.adamID).bytes > 0; }));
    f.model.cancel(paidApp.adamID);
    EXPECT_FALSE(AsyncTest::await(std::move(download)));
    EXPECT_EQ(f.model.activity(paidApp.adamID), AppActivity{});
    EXPECT_EQ(logTexts(f.model).last(), "Платное: загрузка отменена");
    EXPECT_TRUE(f.ipaFiles().isEmpty());
    EXPECT_FALSE(Processes::isRunning(f.tools.path("ipatool")));
}

TEST(AppModelDownloads, UnwritableVanishingOrDeletedDestinationFailsCleanly)
{
    Fixture f({downloadRule("564177498 ", downloadSteps(1000, 1, 0)),
               downloadRule("111222333 ", {out(ipatoolLine({{"output", "/nonexistent/x.ipa"}, {"success", true}}))}),
               downloadRule("42 ", downloadSteps(300000, 6, 100))});
    // The downloads folder replaced by a file: the tool cannot write there.
    const QString folder = Tools::downloadsDirectory();
    QDir(folder).removeRecursively();
    QFile blocker(folder);
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    EXPECT_FALSE(AsyncTest::await(f.model.download(freeApp, std::nullopt)));
    EXPECT_EQ(f.model.activity(freeApp.adamID).kind, AppActivity::Kind::failed);
    QFile::remove(folder);

    // The tool claims success for a file that is not there.
    EXPECT_FALSE(AsyncTest::await(f.model.download(paidApp, std::nullopt)));
    EXPECT_EQ(f.model.activity(paidApp.adamID),
              AppActivity::failed("ipatool сообщил об успехе, но файла нет: /nonexistent/x.ipa"));

    // The folder deleted while the tool writes: a failure, not a ghost file.
    const AppModel::Target slow{42, "com.example.slow", "Медленное", true};
    auto download = f.model.download(slow, std::nullopt);
    ASSERT_TRUE(AsyncTest::waitUntil([&] { return f.model.activity(slow.adamID).bytes > 0; }));
    ASSERT_TRUE(QDir(Tools::downloadsDirectory()).removeRecursively());
    EXPECT_FALSE(AsyncTest::await(std::move(download)));
    EXPECT_EQ(f.model.activity(slow.adamID).kind, AppActivity::Kind::failed);
    EXPECT_TRUE(f.model.log().last().isError);
    EXPECT_FALSE(f.model.downloadedBundleIDs().contains("com.example.slow"));
}

TEST(AppModelDownloads, OddCharactersInNamesReachTheToolAndTheDiskIntact)
{
    Fixture f({downloadRule(".*", downloadSteps(100, 1, 0))});
    const AppModel::Target odd{42, "com.ex ample.\"q\"$HOME.ёжик", "Ёжик $HOME", true};
    const auto path = AsyncTest::await(f.model.download(odd, std::nullopt));
    ASSERT_TRUE(path);
    EXPECT_EQ(QFileInfo(*path).fileName(), "com.ex_ample.\"q\"$HOME.ёжик_latest.ipa");
    EXPECT_TRUE(QFileInfo(*path).isFile());
}

TEST(AppModelFiles, ListsOnlyLowerCaseIpaFilesNewestFirst)
{
    TempHome home;
    const QDir folder(Tools::downloadsDirectory());
    const struct {
        const char* name;
        int bytes;
        qint64 ageSeconds;
    } made[] = {{"app-123_latest.ipa", 10, 300},
                {"com.example.new_2.0.ipa", 20, 10},
                {"SHOUTING_1.IPA", 30, 0},
                {"notes.txt", 5, 0}};
    // Created back to back, so their birth times mostly fall in one clock tick: only the ages
    // can order them then, whichever way the tick fell.
    for (const auto& file : made)
        ASSERT_TRUE(QFile(folder.filePath(file.name)).open(QIODevice::WriteOnly));
    for (const auto& file : made) {
        QFile handle(folder.filePath(file.name));
        ASSERT_TRUE(handle.open(QIODevice::WriteOnly));
        handle.write(QByteArray(file.bytes, 'x'));
        handle.flush(); // or the buffered write lands after the time is set and undoes it
        handle.setFileTime(QDateTime::currentDateTime().addSecs(-file.ageSeconds), QFileDevice::FileModificationTime);
    }
    AppModel model;
    const QList<LocalIPA> files = model.localFiles();
    ASSERT_EQ(files.size(), 2);
    EXPECT_EQ(files[1].bundleID, "app-123");
    EXPECT_EQ(files[1].displayName, "app-123_latest");
    EXPECT_EQ(files[1].size, 10);
    model.refreshDownloadedSet();
    EXPECT_EQ(model.downloadedBundleIDs(), (QSet<QString>{"app-123", "com.example.new"}));
}

TEST(AppModelVersions, NewestTwelveGetMetadataAndTheRestOnlyTheirIds)
{
    Fixture f(versionRules(1, 30) + versionRules(2, 5));
    AppModel& model = f.model;
    QList<AppActivity::Kind> kinds;
    QObject::connect(&model, &AppModel::activitiesChanged, [&] { kinds.append(model.activity(1).kind); });

    const QList<AppVersion> versions = AsyncTest::await(model.loadVersions(1, "Тридцать"));
    ASSERT_EQ(versions.size(), 30);
    EXPECT_EQ(versions[0], (AppVersion{"829", QString("1.29"), QDateTime(QDate(2020, 1, 2), QTime(3, 4, 5), Qt::UTC)}));
    EXPECT_EQ(versions[11].displayVersion, "1.18");
    EXPECT_EQ(versions[12], (AppVersion{"817", std::nullopt, std::nullopt}));
    EXPECT_EQ(versions[29].externalID, "800");
    EXPECT_EQ(kinds, (QList<AppActivity::Kind>{AppActivity::Kind::fetchingVersions, AppActivity::Kind::idle}));
    EXPECT_EQ(f.tools.calls("ipatool").size(), 13);
    EXPECT_EQ(model.versionsByApp().value(1), versions);

    const QList<AppVersion> few = AsyncTest::await(model.loadVersions(2, "Пять"));
    ASSERT_EQ(few.size(), 5);
    EXPECT_TRUE(
        std::all_of(few.cbegin(), few.cend(), [](const AppVersion& v) { return v.displayVersion.has_value(); }));
}

TEST(AppModelVersions, AFailedMetadataRequestGivesAnEmptyListOnceAndForAll)
{
    Fixture f(versionRules(7, 30, 300));
    AppModel& model = f.model;
    // An error answer still yields a version without details; what fails a request is the tool
    // itself going away, here while the second metadata request runs.
    auto load = model.loadVersions(7, "Сломанное");
    ASSERT_TRUE(AsyncTest::waitUntil([&] { return f.tools.calls("ipatool").size() == 3; }));
    QFile::remove(f.tools.path("ipatool"));
    EXPECT_TRUE(AsyncTest::await(std::move(load)).isEmpty());
    EXPECT_EQ(f.tools.calls("ipatool").size(), 3);
    EXPECT_EQ(model.log().size(), 1);
    EXPECT_EQ(model.log().last().text,
              "Версии Сломанное: " + IPAToolError(IPAToolError::Kind::notInstalled).description());
    EXPECT_TRUE(model.log().last().isError);
    EXPECT_EQ(model.activity(7).kind, AppActivity::Kind::idle);

    const qsizetype calls = f.tools.calls("ipatool").size();
    EXPECT_TRUE(AsyncTest::await(model.loadVersions(7, "Сломанное")).isEmpty());
    EXPECT_EQ(f.tools.calls("ipatool").size(), calls);
    EXPECT_TRUE(model.versionsByApp().contains(7));
}

TEST(AppModelAppID, ParsesBareNumbersAndStoreLinks)
{
    EXPECT_EQ(AppModel::parseAppID("  564177498 \n"), 564177498);
    EXPECT_EQ(AppModel::parseAppID("https://apps.apple.com/ru/app/some-name/id564177498"), 564177498);
    EXPECT_EQ(AppModel::parseAppID("https://apps.apple.com/app/id564177498?pt=1234567890&ct=9876543"), 564177498);
    EXPECT_EQ(AppModel::parseAppID("https://apps.apple.com/app/ID564177498"), 564177498);
    EXPECT_EQ(AppModel::parseAppID("track 1234567 and 7654321"), 1234567);
    EXPECT_EQ(AppModel::parseAppID("-5"), -5);
    EXPECT_EQ(AppModel::parseAppID("+42"), 42);
    EXPECT_EQ(AppModel::parseAppID("12345"), 12345);
    EXPECT_EQ(AppModel::parseAppID("id12345"), std::nullopt);
    EXPECT_EQ(AppModel::parseAppID("app 12345"), std::nullopt);
    EXPECT_EQ(AppModel::parseAppID(""), std::nullopt);
    EXPECT_EQ(AppModel::parseAppID(QString(40, '7')), std::nullopt) << "too long for an App ID";
    EXPECT_EQ(AppModel::parseAppID("id" + QString(40, '7')), std::nullopt);
    EXPECT_EQ(AppModel::parseAppID(QString::fromUtf8("١٢٣٤٥٦٧")), std::nullopt) << "only ASCII digits count";
}

TEST(AppModelAppID, RunsTheDownloadForKnownAndUnknownAppIds)
{
    Fixture f({downloadRule("", {QJsonObject{{"write", "{opt:-o}"}, {"bytes", 10}}, sleepFor(100), reportsSaved()})});
    AppModel& model = f.model;
    QSignalSpy finished(&model, &AppModel::appIDFinished);

    auto run = model.runAppID("https://apps.apple.com/ru/app/x/id564177498", false);
    EXPECT_TRUE(model.appIDBusy());
    EXPECT_EQ(model.appIDError(), std::nullopt);
    AsyncTest::await(std::move(run));
    EXPECT_FALSE(model.appIDBusy());
    EXPECT_EQ(finished.count(), 1);
    EXPECT_TRUE(QFileInfo::exists(Tools::downloadsDirectory() + "/app-564177498_latest.ipa"));
    EXPECT_EQ(logTexts(model).last(), "App 564177498: скачано в app-564177498_latest.ipa");

    // The download taught nothing (no bundle id); a phone's list would. A known App ID brings its name.
    model.rememberKnown(42424242, "com.example.known", "Известное", KnownApp::deviceSource());
    const AppModel::Target known = model.targetForAppID(42424242);
    EXPECT_EQ(known, (AppModel::Target{42424242, "com.example.known", "Известное", true}));
    AsyncTest::await(model.runAppID("42424242", false));
    EXPECT_TRUE(QFileInfo::exists(Tools::downloadsDirectory() + "/com.example.known_latest.ipa"));
}

TEST(AppModelAppID, InstallByStoreLinkGoesToThePhone)
{
    TempHome home;
    StandinTools tools(home.resourceDirectory());
    tools.setScenario(
        scenario(phoneRules() + installerRules()
                 + QJsonArray{rule("cfgutil", "--progress install-app ", {out("[100%] Done", "\r")}),
                              rule("ipatool", "download -i 564177498 ",
                                   {QJsonObject{{"write", "{opt:-o}"}, {"bytes", 10}}, reportsSaved()})}));
    tools.setState("cable", "yes");
    AppModel model;
    AsyncTest::await(model.refreshDevices());
    ASSERT_TRUE(AsyncTest::waitUntil([&] { return !model.loadingInstalledApps(); }));
    // The phone's list taught this App ID with its real bundle id and name.
    AsyncTest::await(model.runAppID("https://apps.apple.com/us/app/kept/id564177498", true));
    EXPECT_EQ(logTexts(model).last(), "Сохранённое установлено на Кабельный (cfgutil)");
    EXPECT_TRUE(QFileInfo::exists(Tools::downloadsDirectory() + "/com.example.kept_latest.ipa"));
}
