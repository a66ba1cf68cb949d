#include "ui/MainWindow.h"

#include "WindowTestSupport.h"
#include "platform/Platform.h"
#include "process/Tools.h"
#include "ui/SidebarListModel.h"
#include "ui/SignInView.h"

using namespace ModelTest;
using namespace WindowTest;

TEST(MainWindow, SwitchesBySignInStageStartsEachSessionAfreshAndKeepsARestoredGeometryOnTheScreen)
{
    TempHome home;
    StandinTools tools{home.resourceDirectory(), {"ipatool"}};
    const QJsonObject login = withState(rule("ipatool", "auth login -e ivan@example.com -p secret$",
                                             {out(ipatoolLine({{"email", email}, {"success", true}}))}),
                                        {}, {{"signedIn", "yes"}, {"email", email}});
    const QJsonObject revoke =
        withState(rule("ipatool", "auth revoke$", {out(ipatoolLine({{"success", true}}))}), {}, {{"signedIn", "no"}});
    tools.setScenario(scenario(QJsonArray{login, revoke, signedInAs(email), signedOutInfo()} + historyPages(3),
                               {{"signedIn", "no"}}));
    AppModel model(offline);
    // The platform appends the display name to a title unless the title already ends with it.
    QApplication::setApplicationDisplayName("Quorrel — демо");
    MainWindow window(&model);
    EXPECT_EQ(window.windowTitle(), "Quorrel — демо");
    QApplication::setApplicationDisplayName({});
    auto* pages = window.findChild<QStackedWidget*>();
    const auto shown = [&]() -> QString {
        const bool toolBar = window.findChild<QToolBar*>("toolBar")->isVisibleTo(&window);
        return pages->currentWidget()->objectName() + (toolBar ? " with the toolbar" : "");
    };
    EXPECT_EQ(shown(), "checkingPage");

    window.show();
    ASSERT_TRUE(AsyncTest::waitUntil([&] { return window.signInView() != nullptr; }));
    EXPECT_EQ(shown(), "signInView");
    EXPECT_EQ(window.mainView(), nullptr);
    EXPECT_EQ(window.focusWidget(), window.signInView()->findChild<QLineEdit*>("signInEmail"))
        << "typing goes into the e-mail field at once";

    // Signing in elsewhere (the form has its own tests) brings the main view with its toolbar.
    AsyncTest::await(model.signIn(email, "secret"));
    ASSERT_TRUE(AsyncTest::waitUntil([&] { return shown() == "mainView with the toolbar"; }));
    EXPECT_EQ(window.windowTitle(), "Мои загрузки");
    window.mainView()->navigation()->setSection(SidebarSection::gone);
    EXPECT_EQ(window.windowTitle(), "Снятые из App Store");
    QPointer<MainView> first = window.mainView();

    AsyncTest::await(model.signOut());
    ASSERT_TRUE(AsyncTest::waitUntil([&] { return first.isNull(); }));
    EXPECT_EQ(shown(), "signInView");

    AsyncTest::await(model.signIn(email, "secret"));
    ASSERT_TRUE(AsyncTest::waitUntil([&] { return window.mainView() != nullptr; }));
    EXPECT_EQ(window.mainView()->navigation()->section(), SidebarSection::all);
    settle(model);

    // A saved geometry larger than the screen is brought onto it; one that fits comes back as it was.
    QWidget huge;
    huge.setGeometry(-300, -200, 5000, 4000);
    Platform::preferences()->setValue("window/geometry", huge.saveGeometry());
    MainWindow restored(&model);
    restored.restoreWindowGeometry();
    const QRect available = restored.screen()->availableGeometry();
    EXPECT_TRUE(available.contains(restored.frameGeometry()))
        << QDebug::toString(restored.frameGeometry()).toStdString() << " on "
        << QDebug::toString(available).toStdString();
    restored.resize(700, 500);
    restored.move(available.topLeft() + QPoint(0, 20));
    restored.saveWindowGeometry();
    MainWindow again(&model);
    again.restoreWindowGeometry();
    EXPECT_EQ(again.geometry(), restored.geometry());
}

TEST(MainWindow, SidebarCountsAndSwitchesSectionsCtrlRSyncsAndTheAppIdButtonAndAlertsAnswer)
{
    SignedIn signedIn(history(12, 3), phoneRules() + installerRules() + historyPages(4), {{"cable", "yes"}});
    ASSERT_TRUE(signedIn.ready());
    MainWindow& window = signedIn.window;
    Navigation* navigation = window.mainView()->navigation();
    SidebarListModel* sections = window.mainView()->sections();
    using enum SidebarSection;
    const auto badge = [&](SidebarSection section) {
        return sections->indexOf(section).data(SidebarListModel::BadgeRole).toInt();
    };
    ASSERT_TRUE(AsyncTest::waitUntil([&] { return badge(device) == 2; }));
    EXPECT_EQ(QList<int>({badge(all), badge(gone), badge(files), badge(log)}), QList<int>({12, 3, 0, 0}));

    QListView* sidebar = window.mainView()->sidebar();
    QTest::mouseClick(sidebar->viewport(), Qt::LeftButton, {}, sidebar->visualRect(sections->indexOf(gone)).center());
    EXPECT_EQ(window.mainView()->currentView()->objectName(), "goneView") << "a click on a row switches the section";

    navigation->setSection(log);
    window.activateWindow();
    QTest::keyClick(&window, Qt::Key_R, Qt::ControlModifier);
    ASSERT_TRUE(AsyncTest::waitUntil([&] { return signedIn.model.apps().size() == 4; })) << "the history is read anew";

    window.appIDAction()->trigger();
    auto* sheet = window.findChild<QDialog*>("appIdSheet");
    ASSERT_TRUE(sheet && sheet->isVisible());
    sheet->reject();
    EXPECT_FALSE(navigation->showAppIDSheet());

    {
        NoFileManager none;
        window.findChild<QAction*>("openDownloadsAction")->trigger();
    }
    auto* folder = window.findChild<QMessageBox*>("revealFailed");
    ASSERT_NE(folder, nullptr) << "the footer's folder opens or says where it is";
    EXPECT_EQ(folder->informativeText(), "Папка: " + Tools::downloadsDirectory());
    folder->reject();

    signedIn.model.setAlert("Что-то пошло не так");
    ASSERT_TRUE(AsyncTest::waitUntil([&] { return window.findChild<QMessageBox*>("alert") != nullptr; }));
    QTest::mouseClick(window.findChild<QMessageBox*>("alert")->findChild<QAbstractButton*>("alertDismiss"),
                      Qt::LeftButton);
    EXPECT_EQ(signedIn.model.alert(), std::nullopt);
    signedIn.model.setAlert("Ещё одно");
    ASSERT_TRUE(AsyncTest::waitUntil([&] {
        auto* box = window.findChild<QMessageBox*>("alert");
        return box && box->isVisible() && box->text() == "Ещё одно";
    }));
}
