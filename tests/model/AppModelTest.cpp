#include "model/AppModel.h"

#include "ModelTestSupport.h"
#include "platform/Platform.h"
#include "support/AsyncTest.h"
#include "support/QtPrinters.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>

#include <gtest/gtest.h>

using namespace ModelTest;

TEST(AppModelLog, KeepsTheNewestFourHundredEntries)
{
    AppModel model;
    for (int i = 0; i < 401; ++i)
        model.note(QString::number(i));
    model.fail("last");
    ASSERT_EQ(model.log().size(), 400);
    EXPECT_EQ(model.log().first().text, "2");
    EXPECT_EQ(model.log().last().text, "last");
    EXPECT_TRUE(model.log().last().isError);
    EXPECT_FALSE(model.log().first().isError);
    EXPECT_NE(model.log()[0].id, model.log()[1].id);
}

TEST(AppModelFields, SettersNotifyOnlyOnChange)
{
    AppModel model;
    QSignalSpy searchSpy(&model, &AppModel::searchChanged);
    QSignalSpy alertSpy(&model, &AppModel::alertChanged);
    model.setSearch("maps");
    model.setSearch("maps");
    model.setAlert("one");
    model.setAlert("one");
    model.setAlert(std::nullopt);
    EXPECT_EQ(searchSpy.count(), 1);
    EXPECT_EQ(alertSpy.count(), 2);
}

TEST(AppModelBootstrap, LogsWhereTheToolsAreAndWithoutIpatoolStopsSignedOutWithTheAlert)
{
    TempHome home;
    AppModel model;
    QSignalSpy stageSpy(&model, &AppModel::stageChanged);
    EXPECT_EQ(model.stage(), AppModel::Stage::checking);
    AsyncTest::await(model.bootstrap());
    EXPECT_EQ(model.stage(), AppModel::Stage::signedOut);
    EXPECT_EQ(stageSpy.count(), 1);
    EXPECT_EQ(model.alert(), IPAToolError(IPAToolError::Kind::notInstalled).description());
    // Apple Configurator is a Mac's; on Linux its absence is normal and goes unmentioned.
    QStringList expected{"ipatool: не найден"};
    if (!Platform::isLinux())
        expected.append("cfgutil: не найден — поставь Apple Configurator");
    EXPECT_EQ(logTexts(model), expected);

    for (const char* name : {"ipatool", "cfgutil"}) {
        QFile tool(QDir(home.resourceDirectory()).filePath(name));
        ASSERT_TRUE(tool.open(QIODevice::WriteOnly));
        tool.write("#!/bin/sh\n");
        tool.close();
        tool.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    AppModel found;
    AsyncTest::await(found.bootstrap());
    EXPECT_EQ(logTexts(found).mid(0, 2),
              (QStringList{"ipatool: " + QDir(home.resourceDirectory()).filePath("ipatool"),
                           "cfgutil: " + QDir(home.resourceDirectory()).filePath("cfgutil")}));
    EXPECT_EQ(found.alert(), std::nullopt);
}

TEST(AppModelLog, AnUnwritableLogFolderLeavesTheLogInMemoryWithOneNote)
{
    TempHome home;
    QFile blocker(home.filePath("state"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    AppModel model;
    model.writeLogTo(home.filePath("state/Quorrel"));
    model.note("дальше");
    EXPECT_EQ(model.log().size(), 2);
    EXPECT_TRUE(model.log().first().isError);
    EXPECT_TRUE(model.log().first().text.startsWith("Журнал не пишется в файл, он остаётся только в окне: "));
    EXPECT_EQ(model.logDirectory(), std::nullopt);
}
