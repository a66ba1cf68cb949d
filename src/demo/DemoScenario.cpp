#include "demo/DemoScenario.h"

#include "demo/DemoCatalogue.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>

namespace DemoScenario {
namespace {

using DemoCatalogue::App;
using DemoCatalogue::Phone;

constexpr int pageSize = 100;

QString compact(const QJsonObject& object)
{
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

// ipatool's JSON lines carry a level and a time besides the answer.
QString ipatoolLine(QJsonObject fields)
{
    fields.insert(QStringLiteral("level"),
                  fields.contains(QStringLiteral("error")) ? QStringLiteral("error") : QStringLiteral("info"));
    fields.insert(QStringLiteral("time"), QStringLiteral("2025-06-11T09:41:00Z"));
    return compact(fields);
}

QJsonObject out(const QString& text, const QString& end = QStringLiteral("\n"))
{
    return {{QStringLiteral("out"), text}, {QStringLiteral("end"), end}};
}

QJsonObject err(const QString& text)
{
    return {{QStringLiteral("err"), text}};
}

QJsonObject pause(int ms)
{
    return {{QStringLiteral("sleep"), ms}};
}

QJsonObject rule(const QString& tool, const QString& pattern, const QJsonArray& steps, int exit = 0)
{
    return {{QStringLiteral("tool"), tool},
            {QStringLiteral("match"), pattern},
            {QStringLiteral("steps"), steps},
            {QStringLiteral("exit"), exit}};
}

QJsonObject exact(const QString& tool, const QStringList& args, const QJsonArray& steps)
{
    return {{QStringLiteral("tool"), tool},
            {QStringLiteral("args"), QJsonArray::fromStringList(args)},
            {QStringLiteral("steps"), steps}};
}

QJsonObject withState(QJsonObject rule, const QJsonObject& required, const QJsonObject& changes = {})
{
    if (!required.isEmpty())
        rule.insert(QStringLiteral("requires"), required);
    if (!changes.isEmpty())
        rule.insert(QStringLiteral("set"), changes);
    return rule;
}

QString quoted(const QString& text)
{
    return QRegularExpression::escape(text);
}

QString isoDate(const QDateTime& date)
{
    return date.toUTC().toString(Qt::ISODate);
}

void append(QJsonArray& rules, const QJsonArray& more)
{
    for (const QJsonValue& value : more)
        rules.append(value);
}

QJsonArray accountRules()
{
    const QString ipatool = QStringLiteral("ipatool");
    const QJsonObject signedIn{{QStringLiteral("signedIn"), QStringLiteral("yes")}};
    QJsonArray rules;
    rules.append(exact(ipatool, {QStringLiteral("--version")}, {out(QStringLiteral("ipatool version 2.6.0"))}));
    rules.append(withState(rule(ipatool, QStringLiteral("auth info$"),
                                {out(ipatoolLine({{QStringLiteral("email"), QStringLiteral("{json:state:email}")},
                                                  {QStringLiteral("name"), QStringLiteral("{json:state:name}")},
                                                  {QStringLiteral("success"), true}}))}),
                           signedIn));
    rules.append(rule(ipatool, QStringLiteral("auth info$"),
                      {out(ipatoolLine({{QStringLiteral("error"),
                                         QStringLiteral("failed to get account: failed to get item: The specified "
                                                        "item could not be found in the keyring")},
                                        {QStringLiteral("success"), false}}))},
                      1));
    const QJsonObject preparing =
        out(ipatoolLine({{QStringLiteral("message"),
                          QStringLiteral("preparing authentication; the first login may take a few minutes")}}));
    // Any password; ipatool 2.x in non-interactive mode asks for the code with an info line.
    rules.append(rule(ipatool, QStringLiteral("auth login -e \\S+ -p (?!.* --auth-code ).*$"),
                      {preparing, pause(600),
                       out(ipatoolLine({{QStringLiteral("message"),
                                         QStringLiteral("2FA code is required; run the command again and "
                                                        "supply a code using the `--auth-code` flag")}}))}));
    const QJsonObject loggedIn{{QStringLiteral("email"), QStringLiteral("{json:opt:-e}")},
                               {QStringLiteral("success"), true}};
    rules.append(withState(rule(ipatool,
                                QStringLiteral("auth login -e ") + quoted(QLatin1String(accountEmail))
                                    + QStringLiteral(" -p .* --auth-code [0-9]{6}$"),
                                {preparing, pause(900), out(ipatoolLine(loggedIn))}),
                           {},
                           {{QStringLiteral("signedIn"), QStringLiteral("yes")},
                            {QStringLiteral("email"), QStringLiteral("{opt:-e}")},
                            {QStringLiteral("name"), QString::fromUtf8(accountName)}}));
    // Someone else's address works too and is shown as is.
    rules.append(withState(rule(ipatool, QStringLiteral("auth login -e \\S+ -p .* --auth-code [0-9]{6}$"),
                                {preparing, pause(900), out(ipatoolLine(loggedIn))}),
                           {},
                           {{QStringLiteral("signedIn"), QStringLiteral("yes")},
                            {QStringLiteral("email"), QStringLiteral("{opt:-e}")},
                            {QStringLiteral("name"), QStringLiteral("{opt:-e}")}}));
    rules.append(
        rule(ipatool, QStringLiteral("auth login "),
             {preparing, pause(600),
              out(ipatoolLine({{QStringLiteral("error"), QStringLiteral("2FA code must contain exactly six digits")},
                               {QStringLiteral("success"), false}}))},
             1));
    rules.append(withState(
        rule(ipatool, QStringLiteral("auth revoke$"), {out(ipatoolLine({{QStringLiteral("success"), true}}))}), {},
        {{QStringLiteral("signedIn"), QStringLiteral("no")}}));
    return rules;
}

// As ipatool lists them: no prices, and the platforms each app runs on.
QJsonObject historyEntry(const App& app, const QStringList& platforms)
{
    return {{QStringLiteral("id"), app.id},
            {QStringLiteral("bundleID"), app.bundleID},
            {QStringLiteral("name"), app.name},
            {QStringLiteral("version"), app.version},
            {QStringLiteral("price"), 0},
            {QStringLiteral("purchaseDate"), isoDate(app.purchaseDate)},
            {QStringLiteral("platforms"), QJsonArray::fromStringList(platforms)}};
}

// The account also bought for its Mac and Apple TV; the library leaves those out.
QJsonArray historyEntries()
{
    const QList<App>& apps = DemoCatalogue::apps();
    const struct {
        qsizetype position;
        const char* name;
        const char* bundleID;
        const char* platform;
    } others[] = {{3, "Табличка для Mac", "com.example.mac.sheets", "macos"},
                  {41, "Диванный кинозал", "com.example.tv.cinema", "appletv"},
                  {160, "Заметки на полях", "com.example.mac.margins", "macos"}};
    QJsonArray entries;
    for (qsizetype i = 0; i < apps.size(); ++i) {
        for (const auto& other : others) {
            if (other.position != i)
                continue;
            App app;
            app.id = 900'000'000 + i;
            app.bundleID = QLatin1String(other.bundleID);
            app.name = QString::fromUtf8(other.name);
            app.version = QStringLiteral("1.0");
            app.purchaseDate = apps.at(i).purchaseDate;
            entries.append(historyEntry(app, {QLatin1String(other.platform)}));
        }
        const bool phoneOnly = i % 4 == 1;
        entries.append(historyEntry(apps.at(i), phoneOnly
                                                    ? QStringList{QStringLiteral("iphone")}
                                                    : QStringList{QStringLiteral("iphone"), QStringLiteral("ipad")}));
    }
    return entries;
}

QJsonArray historyRules()
{
    const QJsonArray entries = historyEntries();
    QJsonArray rules;
    const qsizetype pages = (entries.size() + pageSize - 1) / pageSize;
    for (qsizetype page = 0; page < pages; ++page) {
        QJsonArray list;
        for (qsizetype i = page * pageSize; i < std::min(entries.size(), (page + 1) * pageSize); ++i)
            list.append(entries.at(i));
        const QString answer = ipatoolLine({{QStringLiteral("apps"), list},
                                            {QStringLiteral("totalCount"), entries.size()},
                                            {QStringLiteral("success"), true}});
        rules.append(rule(QStringLiteral("ipatool"),
                          QStringLiteral("list-purchases -p %1 -l %2$").arg(page + 1).arg(pageSize),
                          {pause(700), out(answer)}));
    }
    return rules;
}

QJsonArray versionRules()
{
    QJsonArray rules;
    for (int digit = 0; digit < DemoCatalogue::ladderCount; ++digit) {
        const QList<DemoCatalogue::Version> versions = DemoCatalogue::ladder(digit);
        // ipatool lists a ladder oldest first.
        QJsonArray ids;
        for (auto version = versions.crbegin(); version != versions.crend(); ++version)
            ids.append(version->externalID);
        rules.append(rule(QStringLiteral("ipatool"), QStringLiteral("list-versions -i [0-9]*%1$").arg(digit),
                          {pause(500), out(ipatoolLine({{QStringLiteral("externalVersionIdentifiers"), ids},
                                                        {QStringLiteral("success"), true}}))}));
        for (const DemoCatalogue::Version& version : versions) {
            const QString pattern = QStringLiteral("get-version-metadata -i [0-9]*%1 --external-version-id %2$")
                                        .arg(digit)
                                        .arg(version.externalID);
            rules.append(
                rule(QStringLiteral("ipatool"), pattern,
                     {pause(120), out(ipatoolLine({{QStringLiteral("displayVersion"), version.displayVersion},
                                                   {QStringLiteral("releaseDate"), isoDate(version.releaseDate)},
                                                   {QStringLiteral("success"), true}}))}));
        }
    }
    return rules;
}

QJsonArray downloadRules(const QString& ipaPath)
{
    const QString written =
        ipatoolLine({{QStringLiteral("output"), QStringLiteral("{json:opt:-o}")}, {QStringLiteral("success"), true}});
    // ipatool writes beside the destination under ".tmp" and only then gives it the final name.
    const QJsonObject copy{{QStringLiteral("write"), QStringLiteral("{opt:-o}.tmp")},
                           {QStringLiteral("from"), ipaPath},
                           {QStringLiteral("chunks"), 30},
                           {QStringLiteral("interval"), 120}};
    const QJsonObject finish{{QStringLiteral("write"), QStringLiteral("{opt:-o}")},
                             {QStringLiteral("from"), QStringLiteral("{opt:-o}.tmp")}};
    QJsonObject half = copy;
    half.insert(QStringLiteral("chunks"), 2);
    half.insert(QStringLiteral("interval"), 1500);
    const QString broken = QString::number(DemoCatalogue::brokenDownload().id);
    return {
        // Half the file, then the connection drops, as a flaky network would leave it.
        rule(QStringLiteral("ipatool"), QStringLiteral("download -i ") + broken + QLatin1Char(' '),
             {pause(400), half,
              out(ipatoolLine(
                  {{QStringLiteral("error"),
                    QStringLiteral("failed to download file: read tcp 192.168.1.24:52114->17.253.53.207:443: "
                                   "read: connection reset by peer")},
                   {QStringLiteral("success"), false}}))},
             1),
        rule(QStringLiteral("ipatool"), QStringLiteral("download -i "), {pause(500), copy, finish, out(written)}),
    };
}

// Apple asks to wait once, so a queue of gone apps shows how it backs off and goes on.
QJsonArray archiveRules()
{
    QList<qint64> gone;
    for (const App& app : DemoCatalogue::apps()) {
        if (app.gone)
            gone.append(app.id);
    }
    QJsonObject limited = rule(
        QStringLiteral("ipatool"), QStringLiteral("download -i ") + QString::number(gone.value(2)) + QLatin1Char(' '),
        {pause(600),
         out(ipatoolLine({{QStringLiteral("error"), QStringLiteral("failed to download file: rate limited by "
                                                                   "Apple (HTTP 429)")},
                          {QStringLiteral("success"), false}}))},
        1);
    limited.insert(QStringLiteral("times"), 1);
    return {limited};
}

QString plistString(const QString& key, const QString& value)
{
    return QStringLiteral("<key>%1</key><string>%2</string>").arg(key, value.toHtmlEscaped());
}

QString appListXml(const Phone& phone)
{
    QString xml = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                 "<plist version=\"1.0\"><array>");
    for (const DemoCatalogue::PhoneApp& app : phone.apps) {
        xml += QStringLiteral("<dict>") + plistString(QStringLiteral("CFBundleIdentifier"), app.bundleID)
               + plistString(QStringLiteral("CFBundleDisplayName"), app.name)
               + plistString(QStringLiteral("CFBundleShortVersionString"), app.version);
        if (app.adamID) {
            const QString metadata = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\">"
                                                    "<dict><key>itemId</key><integer>%1</integer>%2</dict></plist>")
                                         .arg(*app.adamID)
                                         .arg(plistString(QStringLiteral("itemName"), app.name));
            xml += QStringLiteral("<key>iTunesMetadata</key><data>") + QString::fromLatin1(metadata.toUtf8().toBase64())
                   + QStringLiteral("</data>");
        }
        xml += QStringLiteral("</dict>");
    }
    return xml + QStringLiteral("</array></plist>");
}

QString cfgutilAnswer(const QString& command, const QJsonObject& output, const QStringList& devices)
{
    return compact({{QStringLiteral("Command"), command},
                    {QStringLiteral("Output"), output},
                    {QStringLiteral("Type"), QStringLiteral("CommandOutput")},
                    {QStringLiteral("Devices"), QJsonArray::fromStringList(devices)}});
}

QJsonArray cfgutilInstallSteps()
{
    QJsonArray steps;
    const std::pair<int, const char*> stages[] = {{0, "Preparing"},   {8, "Copying"},     {21, "Copying"},
                                                  {37, "Copying"},    {52, "Copying"},    {64, "Installing"},
                                                  {78, "Installing"}, {91, "Installing"}, {100, "Done"}};
    for (const auto& [percent, stage] : stages) {
        steps.append(pause(380));
        steps.append(out(QStringLiteral("[%1%] ").arg(percent, 3) + QLatin1String(stage), QStringLiteral("\r")));
    }
    steps.append(out(QString()));
    return steps;
}

// Debian's ideviceinstaller 1.1.1: the upload, the bundle it installs, then each step at the start
// of a line of its own, and only a Complete step proves the install.
QJsonArray ideviceinstallerInstallSteps()
{
    QJsonArray steps{pause(300), out(QStringLiteral("Copying '{opt:-i}' to device... DONE.")),
                     out(QStringLiteral("Installing 'com.example.demo'"))};
    const std::pair<int, const char*> stages[] = {{5, "CreatingStagingDirectory"}, {15, "ExtractingPackage"},
                                                  {20, "InspectingPackage"},       {30, "PreflightingApplication"},
                                                  {40, "VerifyingApplication"},    {50, "CreatingContainer"},
                                                  {60, "InstallingApplication"},   {70, "PostflightingApplication"},
                                                  {80, "SandboxingApplication"},   {90, "GeneratingApplicationMap"}};
    for (const auto& [percent, stage] : stages) {
        steps.append(pause(330));
        steps.append(out(QStringLiteral("\rInstall: %1 (%2%)").arg(QLatin1String(stage)).arg(percent)));
    }
    steps.append(pause(300));
    steps.append(out(QStringLiteral("\rInstall: Complete")));
    return steps;
}

// What ideviceinfo prints for a phone reached in a session: a "Key: value" line each.
QString deviceInfo(const Phone& phone)
{
    return QStringList{
        QStringLiteral("ActivationState: Activated"),        QStringLiteral("DeviceClass: iPhone"),
        QStringLiteral("DeviceName: ") + phone.name,         QStringLiteral("ProductName: iPhone OS"),
        QStringLiteral("ProductType: ") + phone.productType, QStringLiteral("ProductVersion: ") + phone.iosVersion,
        QStringLiteral("UniqueDeviceID: ") + phone.udid}
        .join(QLatin1Char('\n'));
}

QJsonArray phoneRules()
{
    const QList<Phone> phones = DemoCatalogue::phones();
    QJsonArray rules;
    QStringList ecids;
    QJsonObject listed;
    for (const Phone& phone : phones) {
        if (phone.ecid.isEmpty())
            continue;
        ecids.append(phone.ecid);
        listed.insert(phone.ecid, QJsonObject{{QStringLiteral("ECID"), phone.ecid}});
    }
    rules.append(exact(QStringLiteral("cfgutil"),
                       {QStringLiteral("--format"), QStringLiteral("JSON"), QStringLiteral("list")},
                       {out(cfgutilAnswer(QStringLiteral("list"), listed, ecids))}));
    QStringList listing;
    for (const Phone& phone : phones) {
        // The phone without an ECID is known to the mux daemon over Wi-Fi only, and reached with -n.
        const bool network = phone.ecid.isEmpty();
        listing.append(phone.udid + (network ? QStringLiteral(" (Network)") : QStringLiteral(" (USB)")));
        if (!network) {
            const QJsonObject properties{{QStringLiteral("name"), phone.name},
                                         {QStringLiteral("deviceType"), phone.productType},
                                         {QStringLiteral("firmwareVersion"), phone.iosVersion},
                                         {QStringLiteral("UDID"), phone.udid},
                                         {QStringLiteral("isPaired"), true},
                                         {QStringLiteral("activationState"), QStringLiteral("Activated")}};
            rules.append(rule(QStringLiteral("cfgutil"),
                              QStringLiteral("--ecid ") + phone.ecid + QStringLiteral(" get "),
                              {out(cfgutilAnswer(QStringLiteral("get"),
                                                 {{phone.ecid, properties}, {QStringLiteral("Errors"), QJsonObject()}},
                                                 {phone.ecid}))}));
            rules.append(rule(QStringLiteral("cfgutil"),
                              QStringLiteral("--ecid ") + phone.ecid + QStringLiteral(" --progress install-app "),
                              cfgutilInstallSteps()));
        }
        const QString addressed = QStringLiteral("^-u ") + phone.udid + (network ? QStringLiteral(" -n") : QString());
        rules.append(rule(QStringLiteral("ideviceinfo"), addressed + QLatin1Char('$'), {out(deviceInfo(phone))}));
        // The XML list ends with a blank line of its own.
        rules.append(rule(QStringLiteral("ideviceinstaller"), addressed + QStringLiteral(" -l "),
                          {pause(800), out(appListXml(phone)), out(QString())}));
        rules.append(rule(QStringLiteral("ideviceinstaller"), addressed + QStringLiteral(" -i "),
                          ideviceinstallerInstallSteps()));
    }
    rules.append(exact(QStringLiteral("idevice_id"), {}, {out(listing.join(QLatin1Char('\n')))}));
    // Debian's ideviceinstaller 1.1.x: the old flags.
    rules.append(
        exact(QStringLiteral("ideviceinstaller"), {QStringLiteral("--help")},
              {out(QStringLiteral("Usage: ideviceinstaller OPTIONS")),
               out(QStringLiteral("  -l, --list-apps\tList apps, possible options:")),
               out(QStringLiteral("  -i, --install ARCHIVE\tInstall app from package file specified by ARCHIVE."))}));
    // A phone asked for otherwise (without -n for the Wi-Fi one) is not found, as the real tools say it.
    rules.append(rule(QStringLiteral("ideviceinfo"), QStringLiteral("^-u "),
                      {out(QStringLiteral("ERROR: Device {arg:1} not found!"))}, 255));
    rules.append(rule(QStringLiteral("ideviceinstaller"), QStringLiteral("^-u "),
                      {err(QStringLiteral("No device found with udid {arg:1}."))}, 255));
    return rules;
}

} // namespace

QJsonObject build(const QString& ipaPath)
{
    QJsonArray rules;
    append(rules, accountRules());
    append(rules, historyRules());
    append(rules, versionRules());
    append(rules, archiveRules());
    append(rules, downloadRules(ipaPath));
    append(rules, phoneRules());
    return {{QStringLiteral("state"), QJsonObject{{QStringLiteral("signedIn"), QStringLiteral("no")}}},
            {QStringLiteral("rules"), rules}};
}

} // namespace DemoScenario
