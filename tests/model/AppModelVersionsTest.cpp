#include "model/AppModel.h"

#include "ModelTestSupport.h"
#include "process/Tools.h"
#include "support/QtPrinters.h"
#include "support/StandinTools.h"
#include "support/TempHome.h"

#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>

#include <gtest/gtest.h>

using namespace ModelTest;

namespace {

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

TEST(AppModelVersions, NewestTwelveGetMetadataAndTheRestOnlyTheirIds)
{
    TempHome home;
    StandinTools tools(home.resourceDirectory(), {"ipatool"});
    tools.setScenario(scenario(versionRules(1, 30) + versionRules(2, 5)));
    AppModel model;
    QList<AppActivity::Kind> kinds;
    QObject::connect(&model, &AppModel::activitiesChanged, [&] { kinds.append(model.activity(1).kind); });

    const QList<AppVersion> versions = AsyncTest::await(model.loadVersions(1, "Тридцать"));
    ASSERT_EQ(versions.size(), 30);
    EXPECT_EQ(versions[0], (AppVersion{"829", QString("1.29"), QDateTime(QDate(2020, 1, 2), QTime(3, 4, 5), Qt::UTC)}));
    EXPECT_EQ(versions[11].displayVersion, "1.18");
    EXPECT_EQ(versions[12], (AppVersion{"817", std::nullopt, std::nullopt}));
    EXPECT_EQ(versions[29].externalID, "800");
    EXPECT_EQ(kinds, (QList<AppActivity::Kind>{AppActivity::Kind::fetchingVersions, AppActivity::Kind::idle}));
    EXPECT_EQ(tools.calls("ipatool").size(), 13);
    EXPECT_EQ(model.versionsByApp().value(1), versions);

    const QList<AppVersion> few = AsyncTest::await(model.loadVersions(2, "Пять"));
    ASSERT_EQ(few.size(), 5);
    EXPECT_TRUE(
        std::all_of(few.cbegin(), few.cend(), [](const AppVersion& v) { return v.displayVersion.has_value(); }));
}

TEST(AppModelVersions, AFailedMetadataRequestGivesAnEmptyListOnceAndForAll)
{
    TempHome home;
    StandinTools tools(home.resourceDirectory(), {"ipatool"});
    tools.setScenario(scenario(versionRules(7, 30, 300)));
    AppModel model;
    // An error answer still yields a version without details; what fails a request is the tool
    // itself going away, here while the second metadata request runs.
    auto load = model.loadVersions(7, "Сломанное");
    ASSERT_TRUE(AsyncTest::waitUntil([&] { return tools.calls("ipatool").size() == 3; }));
    QFile::remove(tools.path("ipatool"));
    EXPECT_TRUE(AsyncTest::await(std::move(load)).isEmpty());
    EXPECT_EQ(tools.calls("ipatool").size(), 3);
    EXPECT_EQ(model.log().size(), 1);
    EXPECT_EQ(model.log().last().text,
              "Версии Сломанное: " + IPAToolError(IPAToolError::Kind::notInstalled).description());
    EXPECT_TRUE(model.log().last().isError);
    EXPECT_EQ(model.activity(7).kind, AppActivity::Kind::idle);

    const qsizetype calls = tools.calls("ipatool").size();
    EXPECT_TRUE(AsyncTest::await(model.loadVersions(7, "Сломанное")).isEmpty());
    EXPECT_EQ(tools.calls("ipatool").size(), calls);
    EXPECT_TRUE(model.versionsByApp().contains(7));
}

TEST(AppModelAppID, ParsesBareNumbersAndStoreLinks)
{
    EXPECT_EQ(AppModel::parseAppID("564177498"), 564177498);
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
    EXPECT_EQ(AppModel::parseAppID("   "), std::nullopt);
    EXPECT_EQ(AppModel::parseAppID(QString(40, '7')), std::nullopt) << "too long for an App ID";
    EXPECT_EQ(AppModel::parseAppID("id" + QString(40, '7')), std::nullopt);
    EXPECT_EQ(AppModel::parseAppID(QString::fromUtf8("١٢٣٤٥٦٧")), std::nullopt) << "only ASCII digits count";
}

TEST(AppModelAppID, RunsTheDownloadForKnownAndUnknownAppIds)
{
    TempHome home;
    StandinTools tools(home.resourceDirectory(), {"ipatool"});
    tools.setScenario(scenario({rule("ipatool", "download -i ",
                                     {QJsonObject{{"write", "{opt:-o}"}, {"bytes", 10}}, QJsonObject{{"sleep", 100}},
                                      out(ipatoolLine({{"output", "{json:opt:-o}"}, {"success", true}}))})}));
    AppModel model;
    QSignalSpy finished(&model, &AppModel::appIDFinished);

    AsyncTest::await(model.runAppID("не номер", false));
    EXPECT_EQ(model.appIDError(), "Не разобрал номер. Нужен App ID (например 564177498) или ссылка с id в адресе.");
    EXPECT_FALSE(model.appIDBusy());
    EXPECT_EQ(finished.count(), 0);
    EXPECT_TRUE(tools.calls("ipatool").isEmpty());

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
                                   {QJsonObject{{"write", "{opt:-o}"}, {"bytes", 10}},
                                    out(ipatoolLine({{"output", "{json:opt:-o}"}, {"success", true}}))})}));
    tools.setState("cable", "yes");
    AppModel model;
    AsyncTest::await(model.refreshDevices());
    ASSERT_TRUE(AsyncTest::waitUntil([&] { return !model.loadingInstalledApps(); }));
    // The phone's list taught this App ID with its real bundle id and name.
    AsyncTest::await(model.runAppID("https://apps.apple.com/us/app/kept/id564177498", true));
    EXPECT_EQ(logTexts(model).last(), "Сохранённое установлено на Кабельный (cfgutil)");
    EXPECT_TRUE(QFileInfo::exists(Tools::downloadsDirectory() + "/com.example.kept_latest.ipa"));
}
