#include "model/AppModel.h"

#include "ModelTestSupport.h"
#include "common/AtomicFile.h"
#include "process/Tools.h"
#include "store/ArtworkService.h"
#include "support/Processes.h"
#include "support/Test.h"

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

// `count` versions 800 and up, listed oldest first; each one's details call it "v" and its id.
QJsonArray versionRules(qint64 appID, int count, int metadataDelayMs = 0)
{
    QJsonArray ids;
    for (int i = 0; i < count; ++i)
        ids.append(QString::number(800 + i));
    const QJsonObject details{
        {"displayVersion", "v{opt:--external-version-id}"}, {"releaseDate", "2020-01-02T03:04:05Z"}, {"success", true}};
    return {rule("ipatool", QString("list-versions -i %1$").arg(appID),
                 {out(ipatoolLine({{"externalVersionIdentifiers", ids}, {"success", true}}))}),
            rule("ipatool", QString("get-version-metadata -i %1 ").arg(appID),
                 {sleepFor(metadataDelayMs), out(ipatoolLine(details))})};
}

} // namespace

TEST(AppModelDownloads, FileNamesFollowBundleAndVersionAndOddCharactersReachTheToolAndTheDiskIntact)
{
    Fixture f({downloadRule(".*", downloadSteps(100, 1, 0))});
    const auto name = [](const AppModel::Target& target, std::optional<AppVersion> version) {
        return QFileInfo(AppModel::fileURL(target, version)).fileName();
    };
    EXPECT_EQ(name(freeApp, AppVersion{"800", QString("2.1"), std::nullopt}), "com.example.free_2.1.ipa");
    EXPECT_EQ(name(freeApp, AppVersion{"800", std::nullopt, std::nullopt}), "com.example.free_800.ipa");
    EXPECT_EQ(name({564177498, "", "App 564177498", true}, std::nullopt), "app-564177498_latest.ipa");
    EXPECT_EQ(name(freeApp, AppVersion{"1", QString("1.0 beta 1/2"), std::nullopt}),
              "com.example.free_1.0_beta_1-2.ipa");
    // The path returned is the final one only once the file has moved there.
    const AppModel::Target odd{42, "com.ex ample.\"q\"$HOME.ёжик", "Ёжик $HOME", true};
    EXPECT_EQ(AsyncTest::await(f.model.download(odd, std::nullopt)),
              Tools::downloadsDirectory() + "/com.ex_ample.\"q\"$HOME.ёжик_latest.ipa");
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
    EXPECT_EQ(path, destination);
    EXPECT_EQ(QFileInfo(destination).size(), 400000);
    EXPECT_EQ(f.ipaFiles(), QStringList{"com.example.free_latest.ipa"}) << "nothing left under a temporary name";

    // Every report before "Скачано" carries the store's size, and the bytes start at 0 and only rise.
    ASSERT_GE(f.seen.size(), 3);
    EXPECT_EQ(f.seen.takeLast(), AppActivity::done("Скачано"));
    QList<qint64> bytes;
    for (const AppActivity& activity : std::as_const(f.seen))
        bytes.append(activity == AppActivity::downloading(activity.bytes, 400000) ? activity.bytes : -1);
    EXPECT_TRUE(bytes.first() == 0 && std::is_sorted(bytes.cbegin(), bytes.cend()));
    EXPECT_GE(QSet<qint64>(bytes.cbegin(), bytes.cend()).size(), 3) << "the byte count rose while the tool wrote";
    EXPECT_EQ(AppActivity::downloading(100, 400).fraction(), 0.25);
    EXPECT_EQ(AppActivity::downloading(500, 400).fraction(), std::nullopt) << "a wrong size is not shown";
    EXPECT_TRUE(f.model.downloadedBundleIDs().contains("com.example.free"));
    EXPECT_EQ(logTexts(f.model).last(), "Бесплатное: скачано в com.example.free_latest.ipa");
    EXPECT_EQ(f.model.knownApps().value(0).source, "скачано");

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
    ASSERT_TRUE(QFile(folder).open(QIODevice::WriteOnly));
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
    QStringList rows;
    for (const LocalIPA& file : model.localFiles())
        rows.append(QString("%1 %2 %3").arg(file.bundleID.value_or("-"), file.displayName).arg(file.size));
    EXPECT_EQ(rows, (QStringList{"com.example.new com.example.new_2.0 20", "app-123 app-123_latest 10"}));
    model.refreshDownloadedSet();
    EXPECT_EQ(model.downloadedBundleIDs(), (QSet<QString>{"app-123", "com.example.new"}));
}

TEST(AppModelVersions, NewestTwelveGetMetadataTheRestOnlyTheirIdsAndAFailedListStaysEmpty)
{
    Fixture f(versionRules(1, 30) + versionRules(2, 5) + versionRules(7, 30, 300));
    QList<AppActivity::Kind> kinds;
    QObject::connect(&f.model, &AppModel::activitiesChanged, [&] { kinds.append(f.model.activity(1).kind); });
    const QList<AppVersion> versions = AsyncTest::await(f.model.loadVersions(1, "Тридцать"));
    ASSERT_EQ(versions.size(), 30);
    EXPECT_EQ(versions[0], (AppVersion{"829", QString("v829"), QDateTime(QDate(2020, 1, 2), QTime(3, 4, 5), Qt::UTC)}));
    EXPECT_EQ(versions[11].displayVersion, "v818");
    EXPECT_EQ(versions[12], (AppVersion{"817", std::nullopt, std::nullopt}));
    EXPECT_EQ(versions[29].externalID, "800");
    EXPECT_EQ(kinds, (QList<AppActivity::Kind>{AppActivity::Kind::fetchingVersions, AppActivity::Kind::idle}));
    EXPECT_EQ(f.tools.calls("ipatool").size(), 13);
    EXPECT_EQ(f.model.versionsByApp().value(1), versions);
    EXPECT_EQ(AsyncTest::await(f.model.loadVersions(2, "Пять")).value(4).displayVersion, "v800") << "all five in full";

    // An error answer still yields a version without details; what fails a request is the tool
    // itself going away, here while the second metadata request runs.
    const qsizetype calls = f.tools.calls("ipatool").size();
    auto load = f.model.loadVersions(7, "Сломанное");
    ASSERT_TRUE(AsyncTest::waitUntil([&] { return f.tools.calls("ipatool").size() == calls + 3; }));
    QFile::remove(f.tools.path("ipatool"));
    EXPECT_TRUE(AsyncTest::await(std::move(load)).isEmpty());
    EXPECT_EQ(f.model.activity(7).kind, AppActivity::Kind::idle);
    // Once and for all: asked again, the empty list is not fetched, so no second error.
    EXPECT_TRUE(AsyncTest::await(f.model.loadVersions(7, "Сломанное")).isEmpty());
    EXPECT_EQ(logTexts(f.model),
              QStringList{"Версии Сломанное: " + IPAToolError(IPAToolError::Kind::notInstalled).description()});
    EXPECT_TRUE(f.model.log().last().isError);
}

TEST(AppModelAppID, ParsesBareNumbersAndStoreLinks)
{
    for (const char* link :
         {"  564177498 \n", "https://apps.apple.com/ru/app/some-name/id564177498",
          "https://apps.apple.com/app/id564177498?pt=1234567890&ct=9876543", "https://apps.apple.com/app/ID564177498"})
        EXPECT_EQ(AppModel::parseAppID(link), 564177498) << link;
    EXPECT_EQ(AppModel::parseAppID("track 1234567 and 7654321"), 1234567);
    EXPECT_EQ(AppModel::parseAppID("-5"), -5);
    EXPECT_EQ(AppModel::parseAppID("+42"), 42);
    EXPECT_EQ(AppModel::parseAppID("12345"), 12345);
    // Nothing from a number too long for an App ID, or from digits that are not ASCII.
    for (const QString& text : QStringList{"id12345", "app 12345", "", QString(40, '7'), "id" + QString(40, '7'),
                                           QString::fromUtf8("١٢٣٤٥٦٧")})
        EXPECT_EQ(AppModel::parseAppID(text), std::nullopt) << text.toStdString();
}

TEST(AppModelAppID, RunsTheDownloadForKnownAndUnknownAppIds)
{
    Fixture f({downloadRule("", {QJsonObject{{"write", "{opt:-o}"}, {"bytes", 10}}, sleepFor(100), reportsSaved()})});
    QSignalSpy finished(&f.model, &AppModel::appIDFinished);
    auto run = f.model.runAppID("https://apps.apple.com/ru/app/x/id564177498", false);
    EXPECT_TRUE(f.model.appIDBusy());
    AsyncTest::await(std::move(run));
    EXPECT_FALSE(f.model.appIDBusy());
    EXPECT_EQ(finished.count(), 1);
    EXPECT_EQ(logTexts(f.model).last(), "App 564177498: скачано в app-564177498_latest.ipa");

    // The download taught nothing (no bundle id); a phone's list would. A known App ID brings its name.
    f.model.rememberKnown(42424242, "com.example.known", "Известное", KnownApp::deviceSource());
    EXPECT_EQ(f.model.targetForAppID(42424242), (AppModel::Target{42424242, "com.example.known", "Известное", true}));
    AsyncTest::await(f.model.runAppID("42424242", false));
    EXPECT_EQ(logTexts(f.model).last(), "Известное: скачано в com.example.known_latest.ipa");
}
