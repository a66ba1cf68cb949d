#include "ui/MainWindow.h"

#include "model/AppModel.h"
#include "support/AsyncTest.h"
#include "support/QtPrinters.h"
#include "support/TempHome.h"

#include <QAbstractButton>
#include <QLabel>
#include <QListView>
#include <QMessageBox>
#include <QStackedWidget>
#include <QTest>

#include <gtest/gtest.h>

TEST(MainWindow, ShowsTheSpinnerWhileCheckingThenTheLogAndTheAlert)
{
    TempHome home;
    AppModel model;
    MainWindow window(&model);
    EXPECT_GE(window.minimumWidth(), 880);
    EXPECT_GE(window.minimumHeight(), 560);
    auto* checking = window.findChild<QWidget*>("checkingPage");
    ASSERT_NE(checking, nullptr);
    EXPECT_EQ(window.findChild<QStackedWidget*>()->currentWidget(), checking);
    EXPECT_EQ(window.findChild<QLabel*>("checkingLabel")->text(), "Проверяю аккаунт…");

    window.show(); // starts the start-up sequence; without ipatool it ends signed out with an alert
    ASSERT_TRUE(AsyncTest::waitUntil([&] { return window.findChild<QMessageBox*>("alert") != nullptr; }));
    EXPECT_NE(window.findChild<QStackedWidget*>()->currentWidget(), checking);
    EXPECT_EQ(window.findChild<QListView*>("logList")->model()->rowCount(), 2);

    auto* alert = window.findChild<QMessageBox*>("alert");
    EXPECT_EQ(alert->windowTitle(), "Quorrel");
    EXPECT_EQ(alert->text(), "Не найден ipatool. Поставь его: brew install ipatool");
    QTest::mouseClick(alert->findChild<QAbstractButton*>("alertDismiss"), Qt::LeftButton);
    EXPECT_EQ(model.alert(), std::nullopt);

    // A later alert is shown again.
    model.setAlert("Ещё одно");
    ASSERT_TRUE(AsyncTest::waitUntil([&] {
        auto* box = window.findChild<QMessageBox*>("alert");
        return box && box->isVisible() && box->text() == "Ещё одно";
    }));
}
