#pragma once

#include "common/AtomicFile.h"
#include "model/AppModel.h"
#include "process/Tools.h"
#include "support/HttpServer.h"
#include "support/StandinTools.h"
#include "support/Test.h"

// Scenario pieces for driving the model through the stand-in tools.
namespace ModelTest {

inline QJsonObject out(const QString& text, const QString& end = "\n")
{
    return {{"out", text}, {"end", end}};
}
inline QJsonObject sleepFor(int ms)
{
    return {{"sleep", ms}};
}

inline QJsonObject rule(const QString& tool, const QString& pattern, const QJsonArray& steps, int exit = 0)
{
    return {{"tool", tool}, {"match", pattern}, {"steps", steps}, {"exit", exit}};
}

/// `rule`, answering only its first `times` matches.
inline QJsonObject limitedTo(int times, QJsonObject rule)
{
    rule.insert("times", times);
    return rule;
}

inline QJsonObject withState(QJsonObject rule, const QJsonObject& required, const QJsonObject& changes = {})
{
    if (!required.isEmpty())
        rule.insert("requires", required);
    if (!changes.isEmpty())
        rule.insert("set", changes);
    return rule;
}

inline QString compact(const QJsonObject& object)
{
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

/// An ipatool answer line as the real tool prints it.
inline QString ipatoolLine(QJsonObject fields)
{
    fields.insert("level", fields.contains("error") ? "error" : "info");
    fields.insert("time", "2026-01-01T00:00:00Z");
    return compact(fields);
}

/// A history entry as ipatool lists it: no price, and the platforms the app runs on.
inline QJsonObject purchasedApp(qint64 id, const QString& name, const QStringList& platforms = {"iphone", "ipad"})
{
    QJsonObject app{
        {"id", id}, {"name", name}, {"version", "1.0"}, {"price", 0}, {"purchaseDate", "2020-01-02T03:04:05Z"}};
    app.insert("bundleID", QString("com.example.app%1").arg(id));
    app.insert("platforms", QJsonArray::fromStringList(platforms));
    return app;
}

/// The rules that list a history of `total` apps in pages of 100 (App IDs 1000 and up).
inline QJsonArray historyPages(int total, int delayMs = 0)
{
    QJsonArray rules;
    const int pages = std::max(1, (total + 99) / 100);
    for (int page = 1; page <= pages; ++page) {
        QJsonArray apps;
        for (int i = (page - 1) * 100; i < std::min(total, page * 100); ++i)
            apps.append(purchasedApp(1000 + i, QString("Приложение %1").arg(i)));
        rules.append(
            rule("ipatool", QString("list-purchases -p %1 -l 100$").arg(page),
                 {sleepFor(delayMs), out(ipatoolLine({{"apps", apps}, {"totalCount", total}, {"success", true}}))}));
    }
    return rules;
}

inline QJsonObject signedInAs(const QString& email)
{
    return withState(rule("ipatool", "auth info$",
                          {out(ipatoolLine({{"email", email}, {"name", "Иван Петров"}, {"success", true}}))}),
                     {{"signedIn", "yes"}, {"email", email}});
}

inline QString failure(const QString& error)
{
    return ipatoolLine({{"error", error}, {"success", false}});
}

inline QJsonObject failingRule(const QString& pattern, const QString& error)
{
    return rule("ipatool", pattern, {out(failure(error))}, 1);
}

inline QJsonObject downloadRule(const QString& pattern, const QJsonArray& steps, int exit = 0)
{
    return rule("ipatool", "download -i " + pattern, steps, exit);
}

/// ipatool's last line after a download, naming the file it wrote.
inline QJsonObject reportsSaved()
{
    return out(ipatoolLine({{"output", "{json:opt:-o}"}, {"success", true}}));
}

inline QJsonObject signedOutInfo()
{
    return failingRule("auth info$", "failed to get account: failed to get item: The specified item could not be "
                                     "found in the keyring");
}

/// ipatool's encrypted file keyring, while the state "keyring" is "file": every command fails
/// without `passphrase`, and with another one. Put these rules first.
inline QJsonArray fileKeyring(const QString& passphrase)
{
    const QJsonObject file{{"keyring", "file"}};
    return {withState(failingRule("^(?!.*--keychain-passphrase=)",
                                  "failed to get account: failed to get item: keychain passphrase is required when not "
                                  "running in interactive mode; use the \"--keychain-passphrase\" flag"),
                      file),
            withState(failingRule("--keychain-passphrase=(?!" + QRegularExpression::escape(passphrase) + " )",
                                  "failed to get account: failed to get item: aes.KeyUnwrap(): integrity check failed"),
                      file)};
}

/// The log's texts; `marked` puts "! " before each error.
inline QStringList logTexts(const AppModel& model, bool marked = false)
{
    QStringList texts;
    for (const AppModel::LogEntry& entry : model.log())
        texts.append((marked && entry.isError ? "! " : "") + entry.text);
    return texts;
}

/// Store answers about `ids` saved at `at`, each with the archive size `size`.
inline void writeLookups(const QList<qint64>& ids, const QDateTime& at, std::optional<qint64> size = {})
{
    ArtworkService::Cache cache;
    for (const qint64 id : ids)
        cache.insert(id, {QString("https://example.com/i.png"), std::nullopt, size, at});
    ASSERT_TRUE(
        AtomicFile::write(QDir(Tools::cacheDirectory()).filePath("artwork.json"), ArtworkService::encode(cache)));
}

inline QJsonObject scenario(const QJsonArray& rules, const QJsonObject& state = {})
{
    return {{"rules", rules}, {"state", state}};
}

inline QJsonArray operator+(QJsonArray left, const QJsonArray& right)
{
    for (const QJsonValue& value : right)
        left.append(value);
    return left;
}

/// A home with stand-in tools and a lookup server that knows every App ID but the `gone` ones,
/// and finds com.example.sideloaded as 777 by its bundle id.
struct StoreFixture {
    TempHome home;
    StandinTools tools;
    HttpServer lookup;
    QSet<qint64> gone;
    bool failing = false;

    explicit StoreFixture(QStringList toolNames = {"ipatool"})
        : tools(home.resourceDirectory(), std::move(toolNames))
    {
        lookup.setHandler("/lookup", [this](const HttpServer::Request& request) {
            if (failing)
                return HttpServer::Response::text("busy", "text/plain", 503);
            QJsonArray results;
            for (const QString& id : request.query.queryItemValue("id").split(',', Qt::SkipEmptyParts)) {
                if (!gone.contains(id.toLongLong()))
                    results.append(QJsonObject{{"trackId", QJsonValue(id.toLongLong())},
                                               {"artworkUrl100", QString("https://example.com/" + id + ".png")},
                                               {"sellerName", "Разработчик"}});
            }
            if (request.query.queryItemValue("bundleId").contains("com.example.sideloaded"))
                results.append(QJsonObject{{"trackId", 777},
                                           {"bundleId", "com.example.sideloaded"},
                                           {"artworkUrl100", "https://example.com/i.png"}});
            return HttpServer::Response::json(
                QJsonDocument(QJsonObject{{"resultCount", int(results.size())}, {"results", results}}).toJson());
        });
    }

    void signedIn(const QJsonArray& rules, const QString& email = "ivan@example.com")
    {
        tools.setScenario(scenario(QJsonArray{signedInAs(email)} + rules, {{"signedIn", "yes"}, {"email", email}}));
    }
    AppModel::Endpoints endpoints() const
    {
        return {lookup.url(), QUrl::fromLocalFile(home.filePath("none/appcast.json"))};
    }
    /// Started and past its first sync, with the device watch stopped.
    std::unique_ptr<AppModel> start(const AppModel::Endpoints& endpoints)
    {
        auto made = std::make_unique<AppModel>(endpoints);
        AsyncTest::await(made->bootstrap());
        made->stopDeviceWatch();
        EXPECT_TRUE(AsyncTest::waitUntil([&] { return !made->hasDeviceWatchLoop(); }));
        return made;
    }
    std::unique_ptr<AppModel> start() { return start(endpoints()); }
};

inline const QString cableEcid = "0x970E80428AC26";
inline const QString cableUdid = "00008030-001A";

inline QJsonObject exact(const QString& tool, const QStringList& args, const QJsonArray& steps, int exit = 0)
{
    return {{"tool", tool}, {"args", QJsonArray::fromStringList(args)}, {"steps", steps}, {"exit", exit}};
}

inline QString cfgutilList(const QStringList& ecids)
{
    QJsonObject output;
    for (const QString& ecid : ecids)
        output.insert(ecid, QJsonObject{{"ECID", ecid}});
    return compact({{"Command", "list"},
                    {"Output", output},
                    {"Type", "CommandOutput"},
                    {"Devices", QJsonArray::fromStringList(ecids)}});
}

// Phones: a cable phone on cfgutil and idevice_id while the state "cable" is "yes", a Wi-Fi phone
// only on idevice_id -n while "wifi" is "yes"; ideviceinstaller speaks the 1.1.x dialect.
inline QJsonArray phoneRules()
{
    const QStringList list{"--format", "JSON", "list"};
    const QJsonObject properties{{"name", "Кабельный"}, {"deviceType", "iPhone14,2"}, {"firmwareVersion", "17.1"},
                                 {"UDID", cableUdid},   {"isPaired", true},           {"activationState", "Activated"}};
    const QString get = compact({{"Command", "get"},
                                 {"Output", QJsonObject{{cableEcid, properties}, {"Errors", QJsonObject{}}}},
                                 {"Type", "CommandOutput"},
                                 {"Devices", QJsonArray{cableEcid}}});
    // idevice_id lists both links in one run, as Debian's does without arguments.
    const QString cable = cableUdid + " (USB)";
    const QString wifi = "WIFI-1 (Network)";
    return {withState(exact("cfgutil", list, {out(cfgutilList({cableEcid}))}), {{"cable", "yes"}}),
            exact("cfgutil", list, {out(cfgutilList({}))}),
            rule("cfgutil", "--ecid " + cableEcid + " get ", {out(get)}),
            withState(exact("idevice_id", {}, {out(cable), out(wifi)}), {{"cable", "yes"}, {"wifi", "yes"}}),
            withState(exact("idevice_id", {}, {out(cable)}), {{"cable", "yes"}}),
            withState(exact("idevice_id", {}, {out(wifi)}), {{"wifi", "yes"}}),
            exact("idevice_id", {}, {}),
            exact("ideviceinfo", {"-u", "WIFI-1", "-n"},
                  {out("DeviceName: Беспроводной"), out("ProductType: iPhone15,3"), out("ProductVersion: 18.0")}),
            rule("ideviceinfo", ".", {out("DeviceName: Кабельный")})};
}

inline QString appListXml()
{
    const QString plist = R"(<?xml version="1.0" encoding="UTF-8"?><plist version="1.0">%1</plist>)";
    const QString metadata = plist.arg("<dict><key>itemId</key><integer>564177498</integer></dict>");
    const QString apps = "<array><dict><key>CFBundleIdentifier</key><string>com.example.kept</string>"
                         "<key>CFBundleDisplayName</key><string>Сохранённое</string><key>iTunesMetadata</key><data>"
                         + QString::fromLatin1(metadata.toUtf8().toBase64())
                         + "</data></dict><dict><key>CFBundleIdentifier</key><string>com.example.sideloaded</string>"
                           "<key>CFBundleDisplayName</key><string>Без номера</string></dict></array>";
    return plist.arg(apps);
}

inline QJsonArray installerRules()
{
    return {
        exact("ideviceinstaller", {"--help"}, {out("  -l, --list-apps\tList apps"), out("  -i, --install ARCHIVE")}),
        rule("ideviceinstaller", "-l -o xml$", {out(appListXml())})};
}

} // namespace ModelTest
