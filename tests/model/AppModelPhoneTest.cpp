#include "model/AppModel.h"

#include "ModelTestSupport.h"
#include "process/ProcessRunner.h"
#include "process/Tools.h"
#include "support/LoopbackPhone.h"
#include "support/Processes.h"
#include "support/Test.h"

// The model with Debian's real idevice_id, ideviceinfo and ideviceinstaller against the loopback
// phone: what the device bar and the phone's apps show in each state, and how installs end.

using namespace ModelTest;
using namespace std::chrono_literals;

TEST(AppModelPhone, EachStateOfThePhoneReadsAsAdviceAndAnIdlePassRunsOnlyIdeviceId)
{
    const QString found = "iPhone Лены — iPhone14,5 · iOS 16.6 · ";
    const QString stopped = "usbmuxd не запущен — подключи iPhone кабелем: служба запускается вместе с ним";
    const QString missing =
        "Не установлен usbmuxd — без него iPhone не виден. Поставь пакет usbmuxd (sudo apt install usbmuxd)";
    const QJsonObject locked{{"pairError", "PasswordProtected"}};
    struct Case {
        QString scenario; // "usbmuxd stopped" and "no usbmuxd": no mux daemon answers
        QString shown;    // the one phone listed, or nothing
        QString advice;   // the phone's hint, or why none is listed
        qsizetype apps = 0;
        QJsonObject config = {};
    };
    const QList<Case> cases{
        {"paired", found + "кабель", "", 3},
        {"network", found + "Wi-Fi", "", 3},
        {"untrusted", found + "кабель", "iPhone не доверяет этому компьютеру — разблокируй его и нажми «Доверять»"},
        {"untrusted", found + "кабель", "iPhone заблокирован — разблокируй экран", 0, locked},
        {"no-phone", "", ""},
        {"usbmuxd stopped", "", stopped},
        {"no usbmuxd", "", missing},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(QString(c.scenario + " " + c.advice).toStdString());
        TempHome home;
        ASSERT_TRUE(LoopbackPhone::linkRealTools(home.resourceDirectory()));
        if (c.scenario != "no usbmuxd")
            QFile::link("/bin/true", home.resourceDirectory() + "/usbmuxd");
        std::optional<LoopbackPhone> phone;
        std::optional<MuxAddress> nowhere;
        if (c.scenario.contains("usbmuxd"))
            nowhere.emplace("UNIX:" + home.filePath("usbmuxd"));
        else
            phone.emplace(c.scenario, c.config,
                          c.scenario == "network" ? LoopbackPhone::Transport::tcp
                                                  : LoopbackPhone::Transport::unixSocket);
        AppModel model;
        AsyncTest::await(model.refreshDevices());
        ASSERT_TRUE(AsyncTest::waitUntil([&] { return !model.hasPhoneAppsRead(); }, 30s));

        const std::optional<Device> device = model.selectedDevice();
        EXPECT_EQ(device ? device->name + " — " + device->subtitle() : QString(), c.shown);
        EXPECT_EQ(device ? device->accessHint() : model.deviceError().value_or(QString()), c.advice);
        EXPECT_EQ(model.installedApps().size(), c.apps);
        // A phone not ready is not asked for its apps: the hint stands in for them.
        EXPECT_EQ(model.installedAppsError().value_or(QString()), device ? c.advice : QString());

        // Nothing changed: one idevice_id run, and no phone is asked to pair again.
        const auto pairs = [&] { return phone ? phone->events().count("lockdown Pair") : 0; };
        const qsizetype paired = pairs();
        const quint64 children = ProcessRunner::startedChildren();
        AsyncTest::await(model.refreshDevices());
        EXPECT_EQ(ProcessRunner::startedChildren() - children, 1u);
        EXPECT_EQ(pairs(), paired);
    }
}

TEST(AppModelPhone, HungInstallEndsByItselfAndACancelledOneIsNeitherDoneNorFailed)
{
    TempHome home;
    StandinTools tools(home.resourceDirectory(), {"ipatool"});
    ASSERT_TRUE(LoopbackPhone::linkRealTools(home.resourceDirectory()));
    const QString archive = LoopbackPhone::writeArchive(home.path(), "Demo");
    tools.setScenario(
        scenario({downloadRule("", {QJsonObject{{"write", "{opt:-o}"}, {"from", archive}}, reportsSaved()})}));
    const LoopbackPhone phone("installer-hangs");
    AppModel::Endpoints endpoints{QUrl("http://127.0.0.1:9/")};
    endpoints.toolWatchdog = 3s;
    AppModel model(endpoints);
    AsyncTest::await(model.refreshDevices());
    ASSERT_TRUE(AsyncTest::waitUntil([&] { return !model.hasPhoneAppsRead(); }, 30s));
    const AppModel::Target app{564177498, "com.example.demo", "Демо", true};
    const QString installer = home.resourceDirectory() + "/ideviceinstaller";

    AsyncTest::await(model.installOnDevice(app, std::nullopt), 30s);
    EXPECT_EQ(model.activity(app.adamID),
              AppActivity::failed(
                  "iPhone перестал отвечать, установка остановлена — отключи и снова подключи его, затем повтори"));
    EXPECT_FALSE(Processes::isRunning(installer));

    auto install = model.installOnDevice(app, std::nullopt);
    ASSERT_TRUE(AsyncTest::waitUntil([&] { return model.activity(app.adamID).progress > 0; }, 30s));
    model.cancel(app.adamID);
    AsyncTest::await(std::move(install));
    EXPECT_EQ(model.activity(app.adamID), AppActivity{});
    EXPECT_EQ(logTexts(model).last(), "Демо: установка отменена");
    EXPECT_FALSE(Processes::isRunning(installer));
    EXPECT_EQ(QDir(Tools::downloadsDirectory()).entryList(QDir::Files), QStringList{"com.example.demo_latest.ipa"});
}
