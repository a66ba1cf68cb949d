#include "WindowTestSupport.h"
#include "support/QtPrinters.h"
#include "ui/MainView.h"
#include "ui/Navigation.h"

#include <QLabel>
#include <QPushButton>

#include <gtest/gtest.h>

using namespace WindowTest;

TEST(ArchiveViews, SavingTheGoneAppsShowsTheQueueInTheSidebarWithPauseAndCancel)
{
    const QJsonObject slow{{"write", "{opt:-o}"}, {"bytes", 300000}, {"chunks", 30}, {"interval", 100}};
    SignedIn w(history(4, 2), {ModelTest::rule("ipatool", "download -i ", {slow})});
    ASSERT_TRUE(w.ready());
    auto* panel = w.window.findChild<QWidget*>("queuePanel");
    ASSERT_NE(panel, nullptr);
    EXPECT_FALSE(panel->isVisible());

    w.window.mainView()->navigation()->setSection(SidebarSection::gone);
    auto* save = w.window.mainView()->findChild<QPushButton*>("saveGoneButton");
    ASSERT_NE(save, nullptr);
    save->click();
    ASSERT_EQ(w.model.archiveQueue().items().size(), 2);
    EXPECT_TRUE(panel->isVisible());
    EXPECT_EQ(w.model.activity(5003), AppActivity::queued());
    EXPECT_EQ(panel->findChild<QLabel*>("queueTitle")->text(), "Очередь: 1 из 2");

    auto* pause = panel->findChild<QPushButton*>("queuePause");
    pause->click();
    EXPECT_TRUE(w.model.archiveQueue().isPaused());
    EXPECT_EQ(pause->text(), "Продолжить");
    EXPECT_EQ(panel->findChild<QLabel*>("queueStatus")->text(), "На паузе");

    panel->findChild<QPushButton*>("queueCancel")->click();
    EXPECT_FALSE(panel->isVisible());
    EXPECT_EQ(w.model.activity(5003), AppActivity{});
    ASSERT_TRUE(AsyncTest::waitUntil([&] { return w.model.activity(5002) == AppActivity{}; }));
}
