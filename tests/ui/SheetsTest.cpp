#include "ui/AppIdSheet.h"
#include "ui/VersionListModel.h"
#include "ui/VersionSheet.h"

#include "WindowTestSupport.h"
#include "device/KnownApp.h"

using namespace ModelTest;

namespace {

template <typename T>
T* child(const QWidget& parent, const char* name)
{
    T* found = parent.findChild<T*>(name);
    EXPECT_NE(found, nullptr) << name;
    return found;
}

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

TEST(AppIdSheet, ParseErrorStartsNothingAFailureStaysInTheSheetAndASuccessCloses)
{
    TempHome home;
    StandinTools tools(home.resourceDirectory());
    tools.setScenario(scenario({}));
    AppModel model;
    AppIdSheet sheet(&model);
    sheet.show();
    auto* install = child<QPushButton>(sheet, "appIdInstall");
    auto* download = child<QPushButton>(sheet, "appIdDownload");
    auto* error = child<QLabel>(sheet, "appIdError");
    EXPECT_FALSE(child<QLabel>(sheet, "appIdKnownCount")->isVisible());
    EXPECT_FALSE(error->isVisible());
    EXPECT_FALSE(install->isEnabled()) << "no phone";
    EXPECT_TRUE(download->isEnabled());

    QTest::keyClicks(child<QLineEdit>(sheet, "appIdText"), "https://example.com/app/telegram");
    QTest::mouseClick(download, Qt::LeftButton);
    EXPECT_TRUE(error->isVisible());
    EXPECT_EQ(error->text(), "Не разобрал номер. Нужен App ID (например 564177498) или ссылка с id в адресе.");
    EXPECT_TRUE(sheet.isVisible());

    model.rememberKnown(564177498, "com.example.kept", "Сохранённое", KnownApp::deviceSource());
    EXPECT_TRUE(child<QLabel>(sheet, "appIdKnownCount")->isVisible());
    EXPECT_EQ(child<QLabel>(sheet, "appIdKnownCount")->text(), "Известные ID из справочника: 1");

    // The download fails (the stand-in knows no such command): the sheet stays with the reason.
    child<QLineEdit>(sheet, "appIdText")->setText("apps.apple.com/ru/app/id564177498");
    QTest::mouseClick(download, Qt::LeftButton);
    EXPECT_FALSE(download->isEnabled()) << "busy";
    EXPECT_TRUE(child<QWidget>(sheet, "appIdWorking")->isVisible());
    EXPECT_EQ(child<QLabel>(sheet, "appIdStep")->text(), "Спрашиваю Apple…");
    ASSERT_TRUE(AsyncTest::waitUntil([&] { return !model.appIDBusy(); }));
    EXPECT_TRUE(sheet.isVisible());
    EXPECT_TRUE(error->isVisible());
    EXPECT_EQ(error->text(), model.activity(564177498).text);
    EXPECT_FALSE(child<QWidget>(sheet, "appIdWorking")->isVisible());
    EXPECT_TRUE(download->isEnabled());

    // A file already there is a success, whatever the earlier attempt left in the activity.
    QFile kept(AppModel::fileURL(model.targetForAppID(564177498), std::nullopt));
    ASSERT_TRUE(kept.open(QIODevice::WriteOnly));
    kept.close();
    QTest::mouseClick(download, Qt::LeftButton);
    ASSERT_TRUE(AsyncTest::waitUntil([&] { return !sheet.isVisible(); }));
    EXPECT_EQ(sheet.result(), QDialog::Accepted);

    // A new sheet does not inherit the old one's message.
    model.runAppID("нет номера", false);
    AppIdSheet next(&model);
    EXPECT_FALSE(child<QLabel>(next, "appIdError")->isVisibleTo(&next));
}

TEST(VersionSheet, FailedListShowsTheMessageWithBothActionsDisabled)
{
    TempHome home; // no ipatool at all
    AppModel model;
    VersionSheet sheet(&model, {7, "com.example.seven", "Семь", true});
    auto* body = sheet.findChild<QStackedWidget*>();
    EXPECT_EQ(body->currentWidget(), child<QWidget>(sheet, "versionLoading")) << "loading until shown";
    sheet.show();
    ASSERT_TRUE(AsyncTest::waitUntil([&] { return body->currentWidget() == child<QLabel>(sheet, "versionEmpty"); }));
    EXPECT_EQ(child<QLabel>(sheet, "versionEmpty")->text(), "Apple не отдал список версий для этого приложения");
    EXPECT_FALSE(child<QPushButton>(sheet, "versionDownload")->isEnabled());
    EXPECT_FALSE(child<QPushButton>(sheet, "versionInstall")->isEnabled());
    QTest::mouseClick(child<QPushButton>(sheet, "versionClose"), Qt::LeftButton);
    EXPECT_FALSE(sheet.isVisible());
}

TEST(VersionSheet, ListsNewestFirstWithTheBadgeAndDownloadsTheChosenVersion)
{
    TempHome home;
    StandinTools tools(home.resourceDirectory());
    tools.setScenario(scenario(versionRules(1, 13) + phoneRules(), {{"cable", "yes"}}));
    AppModel model;
    AsyncTest::await(model.refreshDevices());
    ASSERT_FALSE(model.devices().isEmpty());

    // Closed before Apple answers: the late list must not reach a deleted sheet.
    auto* early = new VersionSheet(&model, {1, "com.example.one", "Одно", true});
    early->show();
    delete early;
    ASSERT_TRUE(AsyncTest::waitUntil([&] { return model.versionsByApp().contains(1); }));

    // The list is remembered, so the next sheet shows it at once.
    VersionSheet sheet(&model, {1, "com.example.one", "Одно", true});
    sheet.show();
    auto* list = child<QListView>(sheet, "versionList");
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
    EXPECT_TRUE(child<QPushButton>(sheet, "versionInstall")->isEnabled());

    QStringList header;
    for (const QLabel* label : sheet.findChildren<QLabel*>()) {
        if (label->isVisible())
            header.append(label->text());
    }
    EXPECT_TRUE(header.contains("iOS 17.1 · Кабельный")) << header.join(" | ").toStdString();

    list->setCurrentIndex(rows->index(2, 0));
    QTest::mouseClick(child<QPushButton>(sheet, "versionDownload"), Qt::LeftButton);
    EXPECT_FALSE(sheet.isVisible()) << "closes without waiting for the download";
    ASSERT_TRUE(AsyncTest::waitUntil([&] { return model.activity(1).kind == AppActivity::Kind::failed; }));
    const QList<QStringList> calls = tools.calls("ipatool");
    EXPECT_TRUE(std::any_of(calls.cbegin(), calls.cend(), [](const QStringList& call) {
        return call.contains("download") && call.join(' ').contains("--external-version-id 810");
    }));
    model.stopDeviceWatch();
}
