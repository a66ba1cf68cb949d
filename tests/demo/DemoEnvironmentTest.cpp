#include "demo/DemoEnvironment.h"

#include "demo/DemoCatalogue.h"
#include "demo/DemoScenario.h"
#include "demo/DemoUpdateServer.h"
#include "model/AppModel.h"
#include "process/Tools.h"
#include "store/IPAToolError.h"
#include "support/Test.h"
#include "support/UpdateFixture.h"
#include "update/Updater.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>

#include <algorithm>

using namespace UpdateFixture;

namespace {

QByteArray get(const QUrl& url)
{
    QNetworkAccessManager network;
    std::unique_ptr<QNetworkReply> reply(network.get(QNetworkRequest(url)));
    AsyncTest::waitUntil([&] { return reply->isFinished(); });
    return reply->error() == QNetworkReply::NoError ? reply->readAll() : QByteArray();
}

// Stands for the user's own home for the length of a test.
struct UserHome {
    QTemporaryDir dir;
    QByteArray oldHome = qgetenv("HOME");
    QByteArray oldData = qgetenv("XDG_DATA_HOME");

    UserHome()
    {
        qputenv("HOME", dir.path().toUtf8());
        qputenv("XDG_DATA_HOME", (dir.path() + "/.local/share").toUtf8());
    }
    ~UserHome()
    {
        qputenv("HOME", oldHome);
        oldData.isNull() ? qunsetenv("XDG_DATA_HOME") : qputenv("XDG_DATA_HOME", oldData);
    }
};

} // namespace

TEST(DemoEnvironment, RunsTheWholeRoadInsideItsOwnFolder)
{
    UserHome user;
    QString root;
    {
        DemoEnvironment demo(QString(QUORREL_DEMO_DATA_DIR));
        ASSERT_TRUE(demo.isReady()) << demo.error()->toStdString();
        root = demo.rootPath();
        EXPECT_TRUE(Tools::supportDirectory().startsWith(root));
        EXPECT_EQ(qgetenv("HOME"), demo.homePath().toUtf8());

        AppModel model(demo.endpoints());
        AsyncTest::await(model.bootstrap());
        ASSERT_EQ(model.stage(), AppModel::Stage::signedOut);
        EXPECT_EQ(model.alert(), std::nullopt);
        EXPECT_EQ(model.localFiles().size(), 4) << "files downloaded earlier are waiting";

        const QString email = DemoScenario::accountEmail;
        try {
            AsyncTest::await(model.signIn(email, "любой пароль"));
            ADD_FAILURE() << "the first sign-in did not ask for a code";
        } catch (const IPAToolError& error) {
            EXPECT_EQ(error.kind(), IPAToolError::Kind::needsTwoFactor);
        }
        AsyncTest::await(model.signIn(email, "любой пароль", "204917"));
        ASSERT_EQ(model.stage(), AppModel::Stage::signedIn);
        ASSERT_EQ(model.apps().size(), 300);
        const auto gone = std::count_if(model.apps().cbegin(), model.apps().cend(),
                                        [](const PurchasedApp& app) { return app.isGoneFromStore(); });
        EXPECT_EQ(gone, 12);
        EXPECT_EQ(model.newlyGone().size(), 3) << "the store still had three of them two days ago";
        // Every other app has its icon from the shipped set, served from the demo folder on the loopback.
        const PurchasedApp& first = model.apps().first();
        ASSERT_TRUE(first.isGoneFromStore() || first.artworkURL);
        ASSERT_NE(demo.server(), nullptr);
        const QRegularExpression shipped(
            QString("^http://127\\.0\\.0\\.1:%1/icons/icon-\\d\\d\\.png$").arg(demo.server()->port()));
        for (const PurchasedApp& app : model.apps()) {
            if (!app.artworkURL)
                continue;
            ASSERT_TRUE(shipped.match(app.artworkURL->toString()).hasMatch())
                << app.artworkURL->toString().toStdString();
        }

        AsyncTest::await(model.refreshDevices());
        ASSERT_EQ(model.devices().size(), 2);
        ASSERT_TRUE(AsyncTest::waitUntil([&] { return !model.installedApps().isEmpty(); }));

        const auto broken = std::find_if(model.apps().cbegin(), model.apps().cend(), [](const PurchasedApp& app) {
            return app.id == DemoCatalogue::brokenDownload().id;
        });
        ASSERT_NE(broken, model.apps().cend());
        EXPECT_FALSE(AsyncTest::await(model.download(*broken, std::nullopt)));
        EXPECT_TRUE(model.activity(broken->id).text.contains("connection reset by peer"));

        const PurchasedApp target =
            *std::find_if(model.apps().cbegin() + 20, model.apps().cend(),
                          [&](const auto& app) { return !app.isGoneFromStore() && app.id != broken->id; });
        const auto path = AsyncTest::await(model.download(target, std::nullopt));
        ASSERT_TRUE(path);
        EXPECT_TRUE(path->startsWith(root));
        // Each app downloads as an archive of its own that says what it is.
        const IpaInfo downloaded = IpaInspector::inspect(*path);
        EXPECT_EQ(downloaded.bundleID, target.bundleID);
        EXPECT_EQ(downloaded.appID, target.id);
        EXPECT_FALSE(downloaded.icon.isNull());

        AsyncTest::await(model.installOnDevice(target, std::nullopt));
        EXPECT_EQ(model.activity(target.id), AppActivity::done("Установлено"));
        EXPECT_TRUE(model.log().last().text.endsWith("(cfgutil)")) << model.log().last().text.toStdString();

        AsyncTest::await(model.signOut());
        EXPECT_EQ(model.stage(), AppModel::Stage::signedOut);
        // A watch pass still running would write into the folder while it is being removed.
        model.stopDeviceWatch();
        ASSERT_TRUE(AsyncTest::waitUntil([&] { return !model.hasDeviceWatchLoop(); }));
    }
    EXPECT_FALSE(QFileInfo::exists(root));
    EXPECT_EQ(qgetenv("HOME"), user.dir.path().toUtf8());
    EXPECT_EQ(Tools::resourceDirectory(), std::nullopt);
    EXPECT_EQ(snapshot(user.dir.path()).keys(), QStringList()) << "nothing of the demo in the user's home";
}

TEST(DemoEnvironment, MissingProgramOrIconsIsReportedWithoutRedirectingAnything)
{
    QTemporaryDir empty;
    const QByteArray home = qgetenv("HOME");
    DemoEnvironment demo(empty.path());
    ASSERT_FALSE(demo.isReady());
    EXPECT_TRUE(demo.error()->contains("quorrel-standin")) << demo.error()->toStdString();
    EXPECT_EQ(qgetenv("HOME"), home);
    EXPECT_EQ(Tools::resourceDirectory(), std::nullopt);

    DemoEnvironment outsideBundle(std::nullopt);
    EXPECT_FALSE(outsideBundle.isReady());
}

// The demo runs from a copy of its bundle inside its folder; the update road may replace only that.
TEST(DemoUpdate, OffersTheBundleCopyItsNextBuildAndTheRelaunchedCopyNothingMore)
{
    QTemporaryDir folder;
    const QString copy = folder.filePath("Quorrel.app");
    writeBundle(copy, infoPlist(bundleID, "1.2", "15"), "#!/bin/sh\necho started > \"$0.marker\"\n");
    QString newBundle;
    quint16 port = 0;
    {
        DemoEnvironment demo(QString(QUORREL_DEMO_DATA_DIR), folder.path());
        ASSERT_TRUE(demo.isReady()) << demo.error()->toStdString();
        ASSERT_NE(demo.updateServer(), nullptr);
        const AppModel::Endpoints endpoints = demo.endpoints();
        EXPECT_EQ(endpoints.updateBundle, copy);

        Updater updater({endpoints.updateManifest, endpoints.updateBundle, {}, {}, endpoints.updatePublicKey});
        const std::optional<UpdateInfo> info = AsyncTest::await(updater.checkForUpdate());
        ASSERT_TRUE(info);
        EXPECT_EQ(info->build, 16);
        EXPECT_EQ(info->version, "1.3");
        EXPECT_FALSE(info->notes.isEmpty());
        EXPECT_TRUE(info->date);
        ASSERT_TRUE(info->pageURL);
        EXPECT_TRUE(QString::fromUtf8(get(*info->pageURL)).contains("Quorrel 1.3"));

        newBundle = AsyncTest::await(updater.download(*info));
        // Downloaded and unpacked inside the demo's folder (the relaunch below proves it the next build).
        EXPECT_TRUE(newBundle.startsWith(QFileInfo(folder.path()).canonicalFilePath())
                    || newBundle.startsWith(folder.path()))
            << newBundle.toStdString();
        // The copy in use is untouched until the swap.
        EXPECT_EQ(snapshot(copy).value("Contents/Info.plist"), infoPlist(bundleID, "1.2", "15"));
        port = demo.server()->port();
        demo.keepFolder();
    }
    ASSERT_TRUE(QFileInfo::exists(copy));

    // What the swap does, then the relaunched copy: same folder, and its own build is on offer.
    QDir(copy).removeRecursively();
    ASSERT_EQ(QProcess::execute("cp", {"-a", newBundle, copy}), 0);
    {
        DemoEnvironment demo(QString(QUORREL_DEMO_DATA_DIR), folder.path());
        ASSERT_TRUE(demo.isReady()) << demo.error()->toStdString();
        ASSERT_NE(demo.updateServer(), nullptr);
        Updater updater({demo.endpoints().updateManifest, copy, {}, {}, demo.endpoints().updatePublicKey});
        EXPECT_EQ(updater.currentBuild(), 16);
        EXPECT_EQ(AsyncTest::await(updater.checkForUpdate()), std::nullopt);
        // The icon addresses its predecessor cached still answer.
        EXPECT_EQ(demo.server()->port(), port);
        EXPECT_TRUE(get(demo.server()->url("/icons/icon-07.png")).startsWith("\x89PNG"));
        EXPECT_TRUE(get(demo.server()->url("/icons/../server-port")).isEmpty());
    }
    EXPECT_FALSE(QFileInfo::exists(folder.path()));
}
