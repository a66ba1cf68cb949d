#include "ModelTestSupport.h"
#include "common/AtomicFile.h"
#include "demo/IpaArchive.h"
#include "process/Tools.h"
#include "store/PurchasesCache.h"

#include <QElapsedTimer>

using namespace ModelTest;
using namespace std::chrono_literals;

namespace {

QJsonObject savesFile(int chunks = 1, int interval = 0)
{
    return {{"write", "{opt:-o}"}, {"bytes", 20000}, {"chunks", chunks}, {"interval", interval}};
}

const QJsonArray saved{savesFile(), reportsSaved()};

PurchasedApp app(qint64 id)
{
    const QString n = QString::number(id);
    return {id, "com.example.app" + n, "Приложение " + n, "1.0", 0, {}, QUrl("https://example.com/icon.png"), {}, true};
}

AppModel::Target target(qint64 id)
{
    return AppModel::Target::from(app(id));
}

struct Fixture : StoreFixture {
    using StoreFixture::StoreFixture;

    std::unique_ptr<AppModel> model()
    {
        AppModel::Endpoints quick = endpoints();
        quick.queue = ArchiveQueue::Settings{1, 20ms, 150ms, 2s};
        return start(quick);
    }

    QList<qint64> downloads() const
    {
        QList<qint64> ids;
        for (const QStringList& call : tools.calls("ipatool"))
            if (const qsizetype at = call.indexOf("download"); at >= 0)
                ids.append(call.value(at + 2).toLongLong());
        return ids;
    }
};

} // namespace

TEST(AppModelArchive, QueueRetriesAFailureOnceAtTheEndCarriesOnAfterARestartWaitsOutRateLimitsAndCancels)
{
    Fixture f;
    const QJsonObject limited =
        limitedTo(2, downloadRule("1005 ", {out(failure("failed to download: rate limited by Apple (HTTP 429)"))}, 1));
    f.signedIn({downloadRule("1002 ", {out(failure("connection reset by peer"))}, 1), limited,
                downloadRule("1007 ", {savesFile(20, 100), reportsSaved()}), downloadRule(".", saved)});
    PurchasesCache::save({app(1001), app(1002), app(1003), app(1004)}, "ivan@example.com");
    ASSERT_TRUE(AtomicFile::write(AppModel::fileURL(target(1004), std::nullopt), "kept"));
    {
        auto model = f.model();
        EXPECT_EQ(model->saveLibrary(), 3) << "the app with a file stays out";
        EXPECT_EQ(model->activity(1003), AppActivity::queued());
        ASSERT_TRUE(AsyncTest::waitUntil([&] { return model->archiveQueue().savedCount() == 1; }));
        model->pauseQueue();
        ASSERT_TRUE(AsyncTest::waitUntil([&] { return model->archiveQueue().runningApps().isEmpty(); }));
    }
    auto model = f.model();
    EXPECT_TRUE(model->archiveQueue().isPaused()) << "taken up again after the restart";
    EXPECT_EQ(model->activity(1003), AppActivity::queued());
    model->resumeQueue();
    ASSERT_TRUE(AsyncTest::waitUntil([&] { return model->archiveQueue().isEmpty(); }));

    EXPECT_EQ(f.downloads(), (QList<qint64>{1001, 1002, 1003, 1002})) << "the failure is tried once more, last";
    EXPECT_EQ(model->activity(1002), AppActivity::failed("Загрузка не удалась: connection reset by peer"));
    EXPECT_EQ(model->activity(1003), AppActivity::done("Скачано"));
    EXPECT_TRUE(
        logTexts(*model).contains("Очередь скачивания завершена: Сохранено 2 приложения, не удалось скачать 1"));
    EXPECT_FALSE(QFileInfo::exists(ArchiveQueue::filePath()));

    // Apple's rate limit makes the queue wait, longer each time, and then go on.
    ASSERT_EQ(model->queueDownloads({target(1005), target(1006)}), 2);
    QList<qint64> startedAt;
    QElapsedTimer clock;
    clock.start();
    for (int call = 1; call <= 3; ++call) {
        ASSERT_TRUE(AsyncTest::waitUntil([&] { return f.downloads().size() >= 4 + call; }));
        startedAt.append(clock.elapsed());
        // Then waiting its turn again, not failed.
        ASSERT_TRUE(call == 3 || AsyncTest::waitUntil([&] {
                        return model->activity(1005) == AppActivity::queued() && model->archiveQueue().waitingUntil();
                    }));
    }
    EXPECT_GE(startedAt[1] - startedAt[0], 150);
    EXPECT_GE(startedAt[2] - startedAt[1], 300) << "the second wait is twice the first";
    ASSERT_TRUE(AsyncTest::waitUntil([&] { return model->archiveQueue().isEmpty(); }));
    EXPECT_EQ(f.downloads().mid(4), (QList<qint64>{1005, 1005, 1005, 1006}));
    EXPECT_TRUE(logTexts(*model).contains("Очередь скачивания завершена: Сохранено 2 приложения"));

    // Cancelling stops the running download and forgets the rest.
    model->queueDownloads({target(1007), target(1008)});
    ASSERT_TRUE(AsyncTest::waitUntil([&] { return model->activity(1007).bytes > 0; }));
    model->cancelQueue();
    ASSERT_TRUE(AsyncTest::waitUntil([&] { return model->activity(1007) == AppActivity{}; }));
    EXPECT_EQ(model->activity(1008), AppActivity{});
    EXPECT_FALSE(QFileInfo::exists(ArchiveQueue::filePath()));
    EXPECT_EQ(QDir(Tools::downloadsDirectory()).entryList({"*1007*"}, QDir::Files), QStringList{});
    EXPECT_EQ(f.downloads().mid(8), QList<qint64>{1007});
}

TEST(AppModelArchive, RadarReportsAppsThatLeftSinceTheLastLookupAndIgnoresFailedOnes)
{
    Fixture f;
    f.signedIn(historyPages(3));
    writeLookups({1000, 1001, 1002}, QDateTime::currentDateTimeUtc().addDays(-2));
    f.failing = true;
    auto model = f.model();
    EXPECT_FALSE(QFileInfo::exists(QDir(Tools::cacheDirectory()).filePath("radar.json")))
        << "a failed lookup tells the radar nothing";
    f.failing = false;
    AsyncTest::await(model->syncPurchases(true));
    EXPECT_TRUE(model->newlyGone().isEmpty());

    // A day later the store no longer has one of them.
    writeLookups({1000, 1001, 1002}, QDateTime::currentDateTimeUtc().addDays(-2));
    f.gone = {1001};
    model = f.model();
    QSignalSpy banner(model.get(), &AppModel::newlyGoneChanged);
    AsyncTest::await(model->syncPurchases(true));
    EXPECT_EQ(model->newlyGone(), QList<qint64>{1001});
    EXPECT_EQ(banner.size(), 1);
    EXPECT_LE(model->goneSince(1001).value_or(QDateTime::fromSecsSinceEpoch(0)).secsTo(QDateTime::currentDateTimeUtc()),
              60);
}

TEST(AppModelArchive, PhoneAppsWithoutMetadataGetAppIDsByBundleIdUnsavedGoneOnesStandOutAndTooNewFilesAreNotInstalled)
{
    Fixture f({"ipatool", "cfgutil", "idevice_id", "ideviceinfo", "ideviceinstaller"});
    f.gone = {564177498};
    f.signedIn(phoneRules() + installerRules());
    f.tools.setState("cable", "yes");
    PurchasesCache::save({app(1001)}, "ivan@example.com");
    auto model = f.model();
    AsyncTest::await(model->refreshDevices());
    // By name: the sideloaded app, then the kept one.
    const auto onPhone = [&](qsizetype at) { return model->installedApps().value(at); };
    ASSERT_TRUE(AsyncTest::waitUntil([&] { return onPhone(0).adamID && model->isAtRisk(onPhone(1)); }));
    EXPECT_EQ(onPhone(0).adamID, 777);
    EXPECT_FALSE(model->isAtRisk(onPhone(0))) << "still in the store";
    QStringList known;
    for (const KnownApp& app : model->knownApps())
        known.append(QString("%1 %2 %3").arg(app.adamID).arg(app.bundleID, app.source));
    EXPECT_TRUE(known.contains("777 com.example.sideloaded поиск")) << known.join(", ").toStdString();
    const QList<HttpServer::Request> asked = f.lookup.requests("/lookup");
    const auto byBundle = [](const HttpServer::Request& ask) { return ask.query.hasQueryItem("bundleId"); };
    EXPECT_EQ(std::count_if(asked.cbegin(), asked.cend(), byBundle), 1) << "found in the first storefront";

    // Once its file is saved it is no longer at risk.
    ASSERT_TRUE(AtomicFile::write(QDir(Tools::downloadsDirectory()).filePath("com.example.kept_latest.ipa"), "x"));
    model->refreshDownloadedSet();
    EXPECT_FALSE(model->isAtRisk(onPhone(1)));

    // A file too new for the phone is not installed, and older versions are offered.
    const AppModel::Target wanted = target(1001);
    IpaArchive::Bundle bundle{wanted.bundleID, wanted.name, "2.0", "200", "99.0", 4242, {}};
    ASSERT_TRUE(AtomicFile::write(AppModel::fileURL(wanted, std::nullopt), IpaArchive::build(bundle, 10)));
    QList<AppModel::Target> offered;
    QObject::connect(model.get(), &AppModel::olderVersionSuggested,
                     [&](const auto& target) { offered.append(target); });

    AsyncTest::await(model->installOnDevice(wanted, std::nullopt));
    const QString why = "Нужна iOS 99.0 или новее, а на Кабельный — iOS 17.1: выбери версию постарше";
    EXPECT_EQ(model->activity(1001), AppActivity::failed(why));
    EXPECT_EQ(offered, QList<AppModel::Target>{wanted});

    // A file from elsewhere names its app through its store metadata.
    AsyncTest::await(model->installLocalFile(AppModel::fileURL(wanted, std::nullopt)));
    EXPECT_EQ(model->log().last().text, "com.example.app1001_latest.ipa: " + why);
    EXPECT_EQ(offered, (QList<AppModel::Target>{wanted, {4242, wanted.bundleID, wanted.name, true}}));
    for (const QStringList& call : f.tools.calls("cfgutil"))
        EXPECT_FALSE(call.contains("install-app"));
}
