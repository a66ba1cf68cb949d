#include "Scenario.h"

#include <QJsonValue>

namespace {

using Trouble = Scenario::Trouble;

struct Kind {
    const char* name;
    void (*apply)(Scenario&);
};

const Kind kinds[] = {
    {"paired", [](Scenario&) {}},
    {"network", [](Scenario& s) { s.network = true; }},
    {"untrusted", [](Scenario& s) { s.trusted = false; }},
    {"no-phone", [](Scenario& s) { s.attached = false; }},
    {"refuses-install", [](Scenario& s) { s.trouble = Trouble::refuse; }},
    {"unplugged-during-upload", [](Scenario& s) { s.trouble = Trouble::unplugDuringUpload; }},
    {"unplugged-during-install", [](Scenario& s) { s.trouble = Trouble::unplugDuringInstall; }},
    {"installer-hangs", [](Scenario& s) { s.trouble = Trouble::hang; }},
};

QJsonObject app(const char* id, const char* name, const char* build, const char* version, qint64 itemId = 0)
{
    QJsonObject result{{QStringLiteral("CFBundleIdentifier"), QString::fromUtf8(id)},
                       {QStringLiteral("CFBundleDisplayName"), QString::fromUtf8(name)},
                       {QStringLiteral("CFBundleVersion"), QString::fromUtf8(build)},
                       {QStringLiteral("CFBundleShortVersionString"), QString::fromUtf8(version)},
                       {QStringLiteral("ApplicationType"), QStringLiteral("User")}};
    if (itemId != 0)
        result.insert(
            QStringLiteral("iTunesMetadata"),
            QJsonObject{{QStringLiteral("itemId"), itemId}, {QStringLiteral("itemName"), QString::fromUtf8(name)}});
    return result;
}

// A store app, one gone from the store, one installed by hand and a system app.
QJsonArray defaultApps()
{
    QJsonObject system = app("com.apple.mobilesafari", "Safari", "8615.3.12", "16.6");
    system.insert(QStringLiteral("ApplicationType"), QStringLiteral("System"));
    return {app("com.example.notes", "Заметки Плюс", "241", "2.4.1", 1234567890),
            app("com.example.radio", "Old Radio", "7", "1.0.7", 987654321),
            app("org.example.sideloaded", "Sideloaded", "1", "1.0"), system};
}

QList<Scenario::Step> defaultSteps()
{
    return {{QStringLiteral("CreatingStagingDirectory"), 5}, {QStringLiteral("ExtractingPackage"), 15},
            {QStringLiteral("InspectingPackage"), 20},       {QStringLiteral("VerifyingApplication"), 40},
            {QStringLiteral("InstallingApplication"), 60},   {QStringLiteral("GeneratingApplicationMap"), 90}};
}

bool isString(const QJsonObject& config, const char* key, QString* error)
{
    const QJsonValue value = config.value(QLatin1String(key));
    if (value.isUndefined() || value.isString())
        return true;
    *error = QStringLiteral("\"%1\" must be a string").arg(QLatin1String(key));
    return false;
}

void take(const QJsonObject& config, const char* key, QString& member)
{
    if (config.contains(QLatin1String(key)))
        member = config.value(QLatin1String(key)).toString();
}

} // namespace

QStringList Scenario::names()
{
    QStringList result;
    for (const Kind& kind : kinds)
        result.append(QString::fromLatin1(kind.name));
    return result;
}

std::optional<Scenario> Scenario::make(const QString& name, const QJsonObject& config, QString* error)
{
    Scenario scenario;
    scenario.apps = defaultApps();
    scenario.steps = defaultSteps();
    bool known = false;
    for (const Kind& kind : kinds) {
        if (name == QLatin1String(kind.name)) {
            kind.apply(scenario);
            known = true;
        }
    }
    if (!known) {
        *error = QStringLiteral("unknown scenario \"%1\"; one of: %2").arg(name, names().join(QStringLiteral(", ")));
        return std::nullopt;
    }

    for (const char* key : {"udid", "name", "productType", "productVersion", "pairError"}) {
        if (!isString(config, key, error))
            return std::nullopt;
    }
    take(config, "udid", scenario.udid);
    take(config, "name", scenario.name);
    take(config, "productType", scenario.productType);
    take(config, "productVersion", scenario.productVersion);
    take(config, "pairError", scenario.pairError);
    if (scenario.productVersion.section(QLatin1Char('.'), 0, 0).toInt() < 10) {
        // libimobiledevice holds such a phone to TLS 1.0, which Qt on OpenSSL 3 no longer serves.
        *error = QStringLiteral("\"productVersion\" must be 10 or later");
        return std::nullopt;
    }
    if (config.contains(QLatin1String("apps"))) {
        if (!config.value(QLatin1String("apps")).isArray()) {
            *error = QStringLiteral("\"apps\" must be an array of objects");
            return std::nullopt;
        }
        scenario.apps = config.value(QLatin1String("apps")).toArray();
    }
    if (config.contains(QLatin1String("installSteps"))) {
        scenario.steps.clear();
        for (const QJsonValue& step : config.value(QLatin1String("installSteps")).toArray()) {
            const QJsonObject object = step.toObject();
            scenario.steps.append(
                {object.value(QLatin1String("status")).toString(), object.value(QLatin1String("percent")).toInt()});
        }
    }
    scenario.stepsBeforeTrouble = config.value(QLatin1String("stepsBeforeTrouble")).toInt(scenario.stepsBeforeTrouble);
    if (config.contains(QLatin1String("error"))) {
        // A refusal given in full replaces the default one: a missing description stays missing.
        const QJsonObject refusal = config.value(QLatin1String("error")).toObject();
        scenario.errorName = refusal.value(QLatin1String("name")).toString();
        scenario.errorDescription = refusal.value(QLatin1String("description")).toString();
        scenario.errorCode = static_cast<quint64>(refusal.value(QLatin1String("code")).toDouble());
    }
    return scenario;
}
