#include "ui/AppIdSheet.h"
#include "ui/VersionListModel.h"
#include "ui/VersionSheet.h"

#include "WindowTestSupport.h"
#include "device/KnownApp.h"

using namespace ModelTest;
using WindowTest::shown;

namespace {

// Newest first from ipatool's oldest-first list: 800 + count - 1 down to 800; only the newest
// twelve come with a version number and date.
QJsonArray versionRules(qint64 appID, int count)
{
    QJsonArray ids;
    for (int i = 0; i < count; ++i)
        ids.append(QString::number(800 + i));
    QJsonArray rules{rule("ipatool", QString("list-versions -i %1$").arg(appID),
                          {sleepFor(200), out(ipatoolLine({{"externalVersionIdentifiers", ids}, {"success", true}}))})};
    for (int i = 0; i < count; ++i) {
        rules.append(rule("ipatool",
                          QString("get-version-metadata -i %1 --external-version-id %2$").arg(appID).arg(800 + i),
                          {out(ipatoolLine({{"displayVersion", QString("1.%1").arg(i)},
                                            {"releaseDate", "2020-01-02T12:00:00Z"},
                                            {"success", true}}))}));
    }
    return rules;
}

} // namespace

// The App ID sheet without a phone, then with one the version sheet.
TEST(Sheets, AppIdParseErrorStartsNothingAFailureStaysAndASuccessClosesAndVersionsListNewestFirst)
{
    TempHome home;
    StandinTools tools(home.resourceDirectory());
    tools.setScenario(scenario(versionRules(1, 13) + phoneRules(), {{"cable", "no"}}));
    AppModel model;
    AppIdSheet appId(&model);
    appId.show();
    auto* download = appId.findChild<QPushButton*>("appIdDownload");
    auto* text = appId.findChild<QLineEdit*>("appIdText");
    EXPECT_EQ(shown(&appId, "appIdKnownCount"), std::nullopt);
    EXPECT_EQ(shown(&appId, "appIdError"), std::nullopt);
    EXPECT_FALSE(appId.findChild<QPushButton*>("appIdInstall")->isEnabled()) << "no phone";
    EXPECT_TRUE(download->isEnabled());

    QTest::keyClicks(text, "https://example.com/app/telegram");
    QTest::mouseClick(download, Qt::LeftButton);
    EXPECT_EQ(shown(&appId, "appIdError"),
              "Не разобрал номер. Нужен App ID (например 564177498) или ссылка с id в адресе.");
    EXPECT_TRUE(appId.isVisible());

    model.rememberKnown(564177498, "com.example.kept", "Сохранённое", KnownApp::deviceSource());
    EXPECT_EQ(shown(&appId, "appIdKnownCount"), "Известные ID из справочника: 1");

    // The download fails (the stand-in has no rule for it): the appId stays with the reason.
    text->setText("apps.apple.com/ru/app/id564177498");
    QTest::mouseClick(download, Qt::LeftButton);
    EXPECT_FALSE(download->isEnabled()) << "busy";
    EXPECT_EQ(shown(&appId, "appIdStep"), "Спрашиваю Apple…");
    ASSERT_TRUE(AsyncTest::waitUntil([&] { return !model.appIDBusy(); }));
    EXPECT_TRUE(appId.isVisible());
    EXPECT_EQ(shown(&appId, "appIdError"), model.activity(564177498).text);
    EXPECT_EQ(shown(&appId, "appIdStep"), std::nullopt);
    EXPECT_TRUE(download->isEnabled());

    // A file already there is a success, whatever the earlier attempt left in the activity.
    ASSERT_TRUE(QFile(AppModel::fileURL(model.targetForAppID(564177498), std::nullopt)).open(QIODevice::WriteOnly));
    QTest::mouseClick(download, Qt::LeftButton);
    ASSERT_TRUE(AsyncTest::waitUntil([&] { return !appId.isVisible(); }));
    EXPECT_EQ(appId.result(), QDialog::Accepted);

    // A new appId does not inherit the old one's message.
    model.runAppID("нет номера", false);
    AppIdSheet next(&model);
    EXPECT_EQ(shown(&next, "appIdError"), std::nullopt);

    tools.setState("cable", "yes");
    AsyncTest::await(model.refreshDevices());
    VersionSheet failed(&model, {7, "com.example.seven", "Семь", true});
    auto* body = failed.findChild<QStackedWidget*>();
    EXPECT_EQ(body->currentWidget()->objectName(), "versionLoading") << "loading until shown";
    failed.show();
    ASSERT_TRUE(AsyncTest::waitUntil([&] { return body->currentWidget()->objectName() == "versionEmpty"; }));
    EXPECT_EQ(shown(&failed, "versionEmpty"), "Apple не отдал список версий для этого приложения");
    EXPECT_FALSE(failed.findChild<QPushButton*>("versionDownload")->isEnabled());
    EXPECT_FALSE(failed.findChild<QPushButton*>("versionInstall")->isEnabled());
    QTest::mouseClick(failed.findChild<QPushButton*>("versionClose"), Qt::LeftButton);
    EXPECT_FALSE(failed.isVisible());

    // Closed before Apple answers: the late list must not reach a deleted sheet.
    VersionSheet(&model, {1, "com.example.one", "Одно", true}).show();
    ASSERT_TRUE(AsyncTest::waitUntil([&] { return model.versionsByApp().contains(1); }));

    // The list is remembered: the next sheet shows it at once.
    VersionSheet sheet(&model, {1, "com.example.one", "Одно", true});
    sheet.show();
    auto* list = sheet.findChild<QListView*>("versionList");
    ASSERT_TRUE(list->isVisible());
    const QAbstractItemModel* rows = list->model();
    ASSERT_EQ(rows->rowCount(), 13);
    EXPECT_EQ(rows->index(0, 0).data().toString(), "Версия 1.12");
    EXPECT_EQ(rows->index(0, 0).data(VersionListModel::BadgeRole).toString(), "последняя");
    EXPECT_FALSE(rows->index(1, 0).data(VersionListModel::BadgeRole).isValid());
    EXPECT_EQ(rows->index(12, 0).data().toString(), "Сборка 800");
    EXPECT_EQ(rows->index(12, 0).data(VersionListModel::SubtitleRole).toString(), "идентификатор 800");
    EXPECT_TRUE(rows->index(0, 0).data(VersionListModel::SubtitleRole).toString().contains("2020"));
    EXPECT_EQ(sheet.selected()->externalID, "812") << "the newest is chosen";
    EXPECT_TRUE(sheet.findChild<QPushButton*>("versionInstall")->isEnabled());

    EXPECT_TRUE(WindowTest::shownTexts<QLabel>(&sheet).contains("iOS 17.1 · Кабельный"));

    list->setCurrentIndex(rows->index(2, 0));
    QTest::mouseClick(sheet.findChild<QPushButton*>("versionDownload"), Qt::LeftButton);
    EXPECT_FALSE(sheet.isVisible()) << "closes without waiting for the download";
    ASSERT_TRUE(AsyncTest::waitUntil([&] { return model.activity(1).kind == AppActivity::Kind::failed; }));
    const QList<QStringList> calls = tools.calls("ipatool");
    EXPECT_TRUE(std::any_of(calls.cbegin(), calls.cend(), [](const QStringList& call) {
        return call.contains("download") && call.join(' ').contains("--external-version-id 810");
    }));
    model.stopDeviceWatch();
}
