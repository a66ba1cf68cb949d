#include "demo/DemoEnvironment.h"

#include "demo/DemoUpdateServer.h"
#include "support/AsyncTest.h"
#include "support/QtPrinters.h"
#include "support/UpdateFixture.h"
#include "update/Updater.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace UpdateFixture;

namespace {

QByteArray get(const QUrl& url)
{
    QNetworkAccessManager network;
    std::unique_ptr<QNetworkReply> reply(network.get(QNetworkRequest(url)));
    AsyncTest::waitUntil([&] { return reply->isFinished(); });
    return reply->error() == QNetworkReply::NoError ? reply->readAll() : QByteArray();
}

} // namespace

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
        // Downloaded and unpacked inside the demo's folder, and really the next build.
        EXPECT_TRUE(newBundle.startsWith(QFileInfo(folder.path()).canonicalFilePath())
                    || newBundle.startsWith(folder.path()))
            << newBundle.toStdString();
        QFile plist(newBundle + "/Contents/Info.plist");
        ASSERT_TRUE(plist.open(QIODevice::ReadOnly));
        const QByteArray text = plist.readAll();
        EXPECT_TRUE(text.contains("<string>16</string>"));
        EXPECT_TRUE(text.contains("<string>1.3</string>"));
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
