#include "ModelTestSupport.h"
#include "platform/Platform.h"

using namespace ModelTest;

TEST(AppModel, KeepsItsLog400DeepInMemoryNotifiesOnlyOnChangeAndStartsSignedOutWithoutIpatoolOrWithAnOldOne)
{
    TempHome home;
    ASSERT_TRUE(QFile(home.filePath("blocked")).open(QIODevice::WriteOnly));
    AppModel model;
    model.writeLogTo(home.filePath("blocked/Quorrel"));
    model.note("дальше");
    EXPECT_EQ(model.logDirectory(), std::nullopt);
    EXPECT_EQ(logTexts(model, true).replaceInStrings(QRegularExpression(": .*"), ""),
              (QStringList{"! Журнал не пишется в файл, он остаётся только в окне", "дальше"}));

    for (int i = 0; i < 401; ++i)
        model.note(QString::number(i));
    model.fail("last");
    const QStringList kept = logTexts(model, true);
    EXPECT_EQ(kept.mid(0, 1) + kept.mid(399), (QStringList{"2", "! last"})) << "400 kept, the last one last";
    EXPECT_NE(model.log()[0].id, model.log()[1].id);

    QSignalSpy searchSpy(&model, &AppModel::searchChanged);
    QSignalSpy alertSpy(&model, &AppModel::alertChanged);
    model.setSearch("maps");
    model.setSearch("maps");
    model.setAlert("one");
    model.setAlert("one");
    model.setAlert(std::nullopt);
    EXPECT_EQ((QList<qsizetype>{searchSpy.count(), alertSpy.count()}), (QList<qsizetype>{1, 2}));

    // Without ipatool the start stops signed out, with the alert.
    AppModel started;
    QSignalSpy stageSpy(&started, &AppModel::stageChanged);
    AsyncTest::await(started.bootstrap());
    EXPECT_EQ(std::pair(started.stage(), stageSpy.count()), std::pair(AppModel::Stage::signedOut, qsizetype(1)));
    EXPECT_EQ(started.alert(), IPAToolError(IPAToolError::Kind::notInstalled).description());
    // Apple Configurator is a Mac's; on Linux its absence is normal and goes unmentioned.
    QStringList expected{"ipatool: не найден"};
    if (!Platform::isLinux())
        expected.append("cfgutil: не найден — поставь Apple Configurator");
    EXPECT_EQ(logTexts(started), expected);

    // Found, but too old for the history.
    StandinTools tools(home.resourceDirectory(), {"ipatool", "cfgutil"});
    tools.setScenario(scenario({exact("ipatool", {"--version"}, {out("ipatool version 2.3.1")}), signedOutInfo()}));
    AppModel found;
    AsyncTest::await(found.bootstrap());
    EXPECT_EQ(logTexts(found).mid(0, 2), (QStringList{"ipatool: " + tools.path("ipatool") + ", версия 2.3.1",
                                                      "cfgutil: " + tools.path("cfgutil")}));
    EXPECT_EQ(found.alert(),
              "Установлен ipatool 2.3.1, а для истории загрузок нужен ipatool 2.5 или новее — обнови его");
}
