#include "update/Updater.h"

#include "common/SystemError.h"
#include "support/AsyncTest.h"
#include "support/HttpServer.h"
#include "support/QtPrinters.h"
#include "support/UpdateFixture.h"
#include "update/UpdateError.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>

#include <gtest/gtest.h>

using namespace UpdateFixture;

namespace {

const QString digest = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";

QJsonObject fullManifest()
{
    return {{"version", "1.3"},
            {"build", 16},
            {"notes", "Исправлены ошибки"},
            {"date", "2025-03-04T05:06:07+03:00"},
            {"url", "https://example.com/Quorrel-16.zip"},
            {"sha256", digest.toUpper()},
            {"signature", "c2lnbmVk"},
            {"size", 12345678},
            {"page", "https://example.com/releases/16"},
            {"ignored", true}};
}

std::optional<UpdateInfo> parse(const QJsonObject& manifest)
{
    return UpdateInfo::fromManifest(QJsonDocument(manifest).toJson());
}

struct Fixture {
    Sandbox sandbox;
    HttpServer server;
    QString bundle = sandbox.path("Applications/Quorrel.app");

    Fixture() { writeBundle(bundle, infoPlist(bundleID, "1.2", "15")); }
    Updater updater() const { return Updater({server.url("/appcast.json"), bundle, {}, {}, {}}); }
    void serve(const QJsonObject& manifest)
    {
        server.setResponse("/appcast.json", HttpServer::Response::json(QJsonDocument(manifest).toJson()));
    }
};

} // namespace

TEST(UpdateManifest, ReadsEveryFieldAndCountsAMissingOrMistypedOptionalOneAsAbsent)
{
    const auto info = parse(fullManifest());
    ASSERT_TRUE(info);
    EXPECT_EQ(info->version, "1.3");
    EXPECT_EQ(info->build, 16);
    EXPECT_EQ(info->notes, "Исправлены ошибки");
    EXPECT_EQ(info->date, QDateTime(QDate(2025, 3, 4), QTime(2, 6, 7), Qt::UTC));
    EXPECT_EQ(info->url, QUrl("https://example.com/Quorrel-16.zip"));
    EXPECT_EQ(info->sha256, digest) << "lower-cased";
    EXPECT_EQ(info->signature, "c2lnbmVk");
    EXPECT_EQ(info->size, 12345678);
    EXPECT_EQ(info->pageURL, QUrl("https://example.com/releases/16"));
    EXPECT_EQ(UpdateInfo::parseDate("2025-03-04T05:06:07Z"), QDateTime(QDate(2025, 3, 4), QTime(5, 6, 7), Qt::UTC));

    const auto optionalsAbsent = [](const QJsonObject& manifest) {
        const auto read = parse(manifest);
        return read && read->notes.isEmpty() && !read->date && read->size == 0 && !read->pageURL;
    };
    QJsonObject manifest = fullManifest();
    for (const char* key : {"notes", "date", "size", "page"})
        manifest.remove(key);
    EXPECT_TRUE(optionalsAbsent(manifest));
    manifest = fullManifest();
    manifest["notes"] = 5;
    manifest["size"] = "12345678";
    manifest["page"] = "not a page";
    for (const char* date : {"2025-03-04", "2025-03-04T05:06:07", "2025-03-04T05:06:07.5Z", "4 March 2025"}) {
        manifest["date"] = date;
        EXPECT_TRUE(optionalsAbsent(manifest)) << date;
    }
}

TEST(UpdateManifest, RejectsAMissingOrUnusableRequiredKey)
{
    // An undefined value removes the key.
    const QList<std::pair<const char*, QJsonValue>> unusable{{"version", QJsonValue::Undefined},
                                                             {"build", QJsonValue::Undefined},
                                                             {"url", QJsonValue::Undefined},
                                                             {"sha256", QJsonValue::Undefined},
                                                             {"version", 1.3},
                                                             {"build", 16.5},
                                                             {"build", "16"},
                                                             {"url", ""},
                                                             {"url", "http://exa mple.com/a b"},
                                                             {"sha256", 42}};
    for (const auto& [key, value] : unusable) {
        QJsonObject manifest = fullManifest();
        manifest.insert(key, value);
        EXPECT_EQ(parse(manifest), std::nullopt) << key;
    }
    EXPECT_EQ(UpdateInfo::fromManifest("[1]"), std::nullopt);
    EXPECT_EQ(UpdateInfo::fromManifest("{\"version\":"), std::nullopt);
}

TEST(UpdateRunningBundle, ABrokenInfoPlistOrBuildNumberReadsAsNone)
{
    Fixture f;
    writeFile(f.bundle + "/Contents/Info.plist", "<plist><dict><key>CFBundleVersion</key><integer>15</integer>");
    const Updater broken = f.updater();
    EXPECT_EQ(broken.currentVersion(), "0");
    EXPECT_EQ(broken.currentBuild(), 0);
    EXPECT_EQ(broken.bundleIdentifier(), std::nullopt);

    EXPECT_EQ(Updater::parseBuild("+15"), 15);
    EXPECT_EQ(Updater::parseBuild("-3"), -3);
    EXPECT_EQ(Updater::parseBuild("9223372036854775807"), 9223372036854775807);
    for (const char* text : {"", "1.2", " 15", "15a", "9223372036854775808", "+", "٣"})
        EXPECT_EQ(Updater::parseBuild(text), 0) << text;
}

TEST(UpdateCheck, OffersOnlyAStrictlyNewerBuildWhateverTheVersionSays)
{
    Fixture f;
    Updater updater = f.updater();
    QJsonObject manifest = fullManifest();
    manifest["version"] = "0.1";
    f.serve(manifest);
    const auto offer = AsyncTest::await(updater.checkForUpdate());
    ASSERT_TRUE(offer);
    EXPECT_EQ(offer->build, 16);

    for (int build : {15, 14}) {
        manifest["build"] = build;
        manifest["version"] = "99.0";
        f.serve(manifest);
        EXPECT_EQ(AsyncTest::await(updater.checkForUpdate()), std::nullopt) << build;
    }
    EXPECT_EQ(f.server.requests("/appcast.json").size(), 3);

    // A running bundle without a usable build number takes any published build.
    writeFile(f.bundle + "/Contents/Info.plist", infoPlist(bundleID, "1.2", "dev"));
    manifest["build"] = 1;
    f.serve(manifest);
    EXPECT_TRUE(AsyncTest::await(f.updater().checkForUpdate()));
}

TEST(UpdateCheck, AnUnreadableAnswerIsBadManifestAndTheNetworkKeepsItsError)
{
    Fixture f;
    Updater updater = f.updater();
    f.server.setResponse("/appcast.json", HttpServer::Response::text("<html>maintenance</html>", "text/html"));
    try {
        AsyncTest::await(updater.checkForUpdate());
        ADD_FAILURE() << "an HTML page was read as a manifest";
    } catch (const UpdateError& error) {
        EXPECT_EQ(error.kind(), UpdateError::Kind::badManifest);
    }

    QTcpServer closed;
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost));
    const QUrl nowhere(QString("http://127.0.0.1:%1/appcast.json").arg(closed.serverPort()));
    closed.close();
    Updater offline({nowhere, f.bundle, {}, {}, {}});
    EXPECT_THROW(AsyncTest::await(offline.fetchLatest()), SystemError);
}
