#include "WindowTestSupport.h"
#include "ui/DeviceAppRowDelegate.h"
#include "ui/DeviceAppsFilter.h"
#include "ui/DeviceAppsView.h"
#include "ui/DeviceBar.h"

using namespace ModelTest;
using WindowTest::shownTexts;

namespace {

QModelIndex rowNamed(QListView* list, const QString& name)
{
    return list->model()->match(list->model()->index(0, 0), Qt::DisplayRole, name, 1, Qt::MatchExactly).value(0);
}

} // namespace

TEST(DeviceAppsFilter, MatchesTrimmedLoweredTextAndAppIdDigitsAndDropsAppsKnownToTheHistory)
{
    const QList<InstalledApp> apps{{"com.example.Alpha", "Альфа", {}, 564177498},
                                   {"org.beta.app", "Бета", {}, 1234},
                                   {"net.sideloaded", "Без номера", {}, {}}};
    PurchasedApp alpha;
    alpha.bundleID = "com.example.Alpha";
    PurchasedApp otherCase;
    otherCase.bundleID = "ORG.BETA.APP";
    // Why, the query, only the apps unknown to `history`, the names left.
    const std::tuple<const char*, QString, bool, QList<PurchasedApp>, QStringList> cases[] = {
        {"no query", "", false, {}, {"Альфа", "Бета", "Без номера"}},
        {"trimmed, any case", " \tАЛЬ\t ", false, {}, {"Альфа"}},
        {"bundle id", "COM.EXAMPLE.alpha", false, {}, {"Альфа"}},
        {"part of an App ID", "4177", false, {}, {"Альфа"}},
        {"by name without an App ID", "номер", false, {}, {"Без номера"}},
        {"only spaces and tabs are trimmed", "\n", false, {}, {}},
        {"the history is compared exactly", "", true, {alpha, otherCase}, {"Бета", "Без номера"}},
        {"an empty history removes nothing", "", true, {}, {"Альфа", "Бета", "Без номера"}},
        {"both at once", "бе", true, {alpha}, {"Бета", "Без номера"}},
    };
    for (const auto& [why, query, onlyUnknown, history, expected] : cases) {
        QStringList names;
        for (const InstalledApp& app : DeviceAppsFilter::filter(apps, history, query, onlyUnknown))
            names.append(app.name);
        EXPECT_EQ(names, expected) << why;
    }
}

// Two phones, the Wi-Fi one until "wifi" is "no", with three apps: two with App IDs, one without. A
// download of App ID 111 takes a while, so its row stays busy long enough to look at.
TEST(DeviceViews, AppsHeaderFiltersABusyRowDisablesOnlyItselfAndTheBarShowsThePickerTheNameOrWhyNone)
{
    TempHome home;
    StandinTools tools{home.resourceDirectory()};
    const QJsonObject slowFailure =
        rule("ipatool", "download -i 111 ",
             {sleepFor(1500), out(ipatoolLine({{"error", "сеть недоступна"}, {"success", false}}))}, 1);
    tools.setScenario(scenario(phoneRules()
                                   + WindowTest::phoneApps({{"com.example.alpha", "Альфа", {}, 111},
                                                            {"com.example.beta", "Бета", {}, 222},
                                                            {"com.example.sideloaded", "Без номера", {}, {}}})
                                   + QJsonArray{slowFailure},
                               {{"cable", "yes"}, {"wifi", "yes"}}));
    AppModel model;
    AsyncTest::await(model.refreshDevices());
    ASSERT_TRUE(
        AsyncTest::waitUntil([&] { return model.installedApps().size() == 3 && !model.loadingInstalledApps(); }));
    Navigation navigation;
    DeviceAppsView view(&model, &navigation);
    view.resize(900, 500);
    view.show();
    auto* list = view.list();
    EXPECT_EQ(view.findChild<QStackedWidget*>("deviceAppsPages")->currentWidget(), list);
    view.findChild<QLineEdit*>("deviceSearch")->setText("  22 ");
    ASSERT_EQ(list->model()->rowCount(), 1);
    EXPECT_EQ(list->model()->index(0, 0).data().toString(), "Бета");
    view.findChild<QLineEdit*>("deviceSearch")->clear();
    view.findChild<QPushButton*>("unknownOnlyToggle")->click();
    EXPECT_TRUE(view.filter()->onlyUnknownToStore());
    EXPECT_EQ(list->model()->rowCount(), 3) << "nothing is in the (empty) history";
    DeviceAppRowDelegate* delegate = view.delegate();
    const QModelIndex alpha = rowNamed(list, "Альфа");
    const QModelIndex beta = rowNamed(list, "Бета");
    const QModelIndex sideloaded = rowNamed(list, "Без номера");
    ASSERT_TRUE(alpha.isValid() && beta.isValid() && sideloaded.isValid());
    EXPECT_EQ(WindowTest::controls(view, sideloaded), QStringList());

    // Pressing "Скачать IPA" starts the download; only that row waits for it, and offers only "Отменить".
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      delegate->controlRect(alpha, DeviceAppRowDelegate::downloadControl).center());
    ASSERT_TRUE(AsyncTest::waitUntil([&] { return model.activity(111).kind == AppActivity::Kind::downloading; }));
    EXPECT_EQ(WindowTest::controls(view, alpha), QStringList({"cancel", "menu (off)"}));
    EXPECT_EQ(WindowTest::controls(view, beta), QStringList({"download", "menu"}));

    // The other row's menu still opens; its version item hands the app to the version sheet.
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      delegate->controlRect(beta, DeviceAppRowDelegate::menuControl).center());
    auto* menu = view.findChild<QMenu*>("deviceAppMenu");
    ASSERT_NE(menu, nullptr);
    EXPECT_TRUE(menu->findChild<QAction*>("installAction")->isEnabled());
    menu->findChild<QAction*>("versionsAction")->trigger();
    EXPECT_EQ(navigation.versionRequest().value().target, (AppModel::Target{222, "com.example.beta", "Бета", true}));
    menu->close();
    ASSERT_TRUE(AsyncTest::waitUntil([&] { return model.activity(111).isFinal(); }));
    EXPECT_EQ(WindowTest::controls(view, alpha), QStringList({"download", "menu"}));

    DeviceBar bar(&model);
    bar.show();
    auto* picker = bar.findChild<QComboBox*>("devicePicker");
    ASSERT_TRUE(picker->isVisible());
    ASSERT_EQ(picker->count(), 2);
    EXPECT_EQ(picker->itemText(1), "Беспроводной · " + model.devices()[1].subtitle());
    picker->setCurrentIndex(1);
    EXPECT_EQ(model.selectedDeviceID(), "WIFI-1");

    tools.setState("wifi", "no");
    AsyncTest::await(model.refreshDevices());
    EXPECT_FALSE(picker->isVisible());
    EXPECT_EQ(shownTexts<QLabel>(&bar), QStringList({"Кабельный", model.devices()[0].subtitle()}));

    tools.setState("cable", "no");
    AsyncTest::await(model.refreshDevices());
    EXPECT_EQ(shownTexts<QLabel>(&bar),
              QStringList({"iPhone не подключён", "Подключи кабелем, разблокируй экран и нажми «Доверять»"}));
    EXPECT_EQ(view.findChild<QStackedWidget*>("deviceAppsPages")->currentWidget()->objectName(), "deviceAppsEmpty");
    EXPECT_FALSE(view.findChild<QPushButton*>("readPhoneButton")->isEnabled());
    EXPECT_FALSE(view.findChild<QPushButton*>("readPhoneEmptyButton")->isEnabled());

    // The refresh button asks again, and a phone that came back shows up.
    tools.setState("cable", "yes");
    bar.findChild<QWidget*>("deviceRefresh")->setFocus();
    QTest::mouseClick(bar.findChild<QWidget*>("deviceRefresh"), Qt::LeftButton);
    ASSERT_TRUE(AsyncTest::waitUntil([&] { return model.devices().size() == 1; }));
    EXPECT_TRUE(bar.findChild<QLabel*>("deviceName")->isVisible());
    AsyncTest::waitUntil([&] { return !model.hasPhoneAppsRead(); });
}

TEST(DeviceBar, SaysWhatAListedPhoneStillNeedsUntilItIsReadyAndThenItsAppsAreRead)
{
    TempHome home;
    StandinTools tools(home.resourceDirectory(), {"idevice_id", "ideviceinfo", "ideviceinstaller"});
    const QJsonArray listed{exact("idevice_id", {}, {out("U1 (USB)")})};
    const QJsonObject locked{{"err", "ERROR: Could not connect to lockdownd: Password protected (-17)"}};
    tools.setScenario(scenario(listed
                               + QJsonArray{rule("ideviceinfo", " -s$", {out("DeviceName: Телефон Лены")}),
                                            rule("ideviceinfo", ".", {locked}, 255)}));
    AppModel model;
    DeviceBar bar(&model);
    bar.show();
    EXPECT_FALSE(bar.findChild<QLabel*>("deviceAttention")->isVisible());
    AsyncTest::await(model.refreshDevices());
    EXPECT_EQ(shownTexts<QLabel>(&bar),
              QStringList({"iPhone заблокирован — разблокируй экран", "Телефон Лены", "кабель"}));

    // Unlocked: the refresh button asks at once, and the phone's apps follow.
    tools.setScenario(
        scenario(listed + installerRules() + QJsonArray{rule("ideviceinfo", ".", {out("DeviceName: Телефон Лены")})}));
    QTest::mouseClick(bar.findChild<QWidget*>("deviceRefresh"), Qt::LeftButton);
    ASSERT_TRUE(AsyncTest::waitUntil([&] { return model.installedApps().size() == 2; }));
    EXPECT_FALSE(bar.findChild<QLabel*>("deviceAttention")->isVisible());
    EXPECT_EQ(model.installedAppsError(), std::nullopt);
}
