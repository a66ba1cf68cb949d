#include "WindowTestSupport.h"
#include "support/QtPrinters.h"
#include "ui/AppRowDelegate.h"
#include "ui/LibraryListModel.h"
#include "ui/LibraryView.h"
#include "ui/MainView.h"
#include "ui/Navigation.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QTest>

#include <gtest/gtest.h>

using namespace ModelTest;
using namespace WindowTest;

namespace {

LibraryView* library(MainWindow& window)
{
    return window.mainView()->findChild<LibraryView*>("libraryView");
}

/// The row menu that is open now, closed again once looked at.
bool rowMenuOpens(LibraryView* view, int expectedRow)
{
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    const bool open =
        menu && menu->objectName() == "libraryRowMenu" && view->list()->currentIndex().row() == expectedRow;
    if (menu)
        menu->close();
    AsyncTest::waitUntil([] { return !QApplication::activePopupWidget(); });
    return open;
}

} // namespace

TEST(Keyboard, RowsTakeTheFocusEnterStartsTheMainActionAndTheMenuKeyOrRightClickOpensTheRowMenu)
{
    const QJsonObject slowDownload =
        rule("ipatool", "download -i 5001 ",
             {QJsonObject{{"write", "{opt:-o}"}, {"bytes", 300000}, {"chunks", 6}, {"interval", 150}},
              out(ipatoolLine({{"output", "{json:opt:-o}"}, {"success", true}}))});
    SignedIn signedIn(history(3), {slowDownload});
    ASSERT_TRUE(signedIn.ready());
    LibraryView* view = library(signedIn.window);
    QListView* list = view->list();
    ASSERT_TRUE(AsyncTest::waitUntil([&] { return list->hasFocus(); })) << "the rows have the keyboard at once";
    ASSERT_TRUE(AsyncTest::waitUntil([&] { return list->currentIndex().row() == 0; }));

    // Without a phone, Enter downloads.
    QTest::keyClick(list, Qt::Key_Down);
    EXPECT_EQ(list->currentIndex().row(), 1);
    QTest::keyClick(list, Qt::Key_Return);
    ASSERT_TRUE(
        AsyncTest::waitUntil([&] { return signedIn.model.activity(5001).kind == AppActivity::Kind::downloading; }));
    EXPECT_EQ(signedIn.model.activity(5000).kind, AppActivity::Kind::idle);

    QTest::keyClick(list, Qt::Key_Menu);
    EXPECT_FALSE(QApplication::activePopupWidget()) << "a busy row's menu is off, from the keyboard too";

    QTest::keyClick(list, Qt::Key_Up);
    QTest::keyClick(list, Qt::Key_Menu);
    EXPECT_TRUE(rowMenuOpens(view, 0));
    QTest::keyClick(list, Qt::Key_F10, Qt::ShiftModifier);
    EXPECT_TRUE(rowMenuOpens(view, 0));

    const QRect third = list->visualRect(view->rows()->index(2));
    QContextMenuEvent click(QContextMenuEvent::Mouse, third.center(), list->viewport()->mapToGlobal(third.center()));
    QApplication::sendEvent(list->viewport(), &click);
    EXPECT_TRUE(rowMenuOpens(view, 2)) << "a right-click opens the clicked row's menu";

    ASSERT_TRUE(AsyncTest::waitUntil([&] { return signedIn.model.activity(5001).isFinal(); }));
}

TEST(Keyboard, FindReachesTheSearchOfTheSectionShownAndEscapeClearsIt)
{
    SignedIn signedIn(history(3));
    ASSERT_TRUE(signedIn.ready());
    MainWindow& window = signedIn.window;
    QApplication::setActiveWindow(&window);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));

    QTest::keySequence(&window, QKeySequence::Find);
    auto* search = library(window)->findChild<QLineEdit*>("librarySearch");
    EXPECT_TRUE(search->hasFocus());
    QTest::keyClicks(search, "app1");
    EXPECT_EQ(library(window)->rows()->rowCount(), 1);
    QTest::keyClick(search, Qt::Key_Escape);
    EXPECT_TRUE(search->text().isEmpty());
    EXPECT_EQ(library(window)->rows()->rowCount(), 3);

    window.mainView()->navigation()->setSection(SidebarSection::device);
    QTest::keySequence(&window, QKeySequence::Find);
    EXPECT_TRUE(window.mainView()->currentView()->findChild<QLineEdit*>("deviceSearch")->hasFocus());

    window.mainView()->navigation()->setSection(SidebarSection::log);
    QTest::keySequence(&window, QKeySequence::Find);
    EXPECT_FALSE(QApplication::focusWidget() && qobject_cast<QLineEdit*>(QApplication::focusWidget()))
        << "a section without a search keeps the focus where it was";
}
