#pragma once

#include "model/AppModel.h"
#include "model/ModelTestSupport.h"
#include "store/PurchasesCache.h"
#include "support/StandinTools.h"
#include "support/Test.h"
#include "ui/MainView.h"
#include "ui/MainWindow.h"
#include "ui/Navigation.h"
#include "ui/RowDelegate.h"

// The window tests reach into most widget classes.
#include <QTest>
#include <QtWidgets>

namespace WindowTest {

using ModelTest::operator+;

inline const QString email = "ivan@example.com";
/// Nothing listens there, so the store lookup and the update check fail at once instead of reaching
/// the internet.
inline const AppModel::Endpoints offline{QUrl("http://127.0.0.1:9/"), QUrl("http://127.0.0.1:9/appcast.json")};

/// `count` apps, the last `gone` of them no longer offered by the store.
inline QList<PurchasedApp> history(int count, int gone = 0)
{
    QList<PurchasedApp> apps;
    for (int i = 0; i < count; ++i) {
        const std::optional<QUrl> icon =
            i < count - gone ? std::optional(QUrl("file:///nonexistent/icon.png")) : std::nullopt;
        apps.append({5000 + i, QString("com.example.app%1").arg(i), QString("Приложение %1").arg(i), "2.1", 0,
                     QDateTime(QDate(2021, 3, 4), QTime(10, 0), Qt::UTC), icon, std::nullopt, true});
    }
    return apps;
}

/// Every download takes `chunks` × 150 ms, long enough to look at the busy rows.
inline QJsonObject slowDownloads(int chunks)
{
    using namespace ModelTest;
    return rule("ipatool", "download -i ",
                {QJsonObject{{"write", "{opt:-o}"}, {"bytes", 300000}, {"chunks", chunks}, {"interval", 150}},
                 out(ipatoolLine({{"output", "{json:opt:-o}"}, {"success", true}}))});
}

/// ideviceinstaller's answers (Debian's 1.1.x dialect) for a phone holding `apps`; an app's App ID
/// is written into its store metadata when it has one.
inline QJsonArray phoneApps(const QList<InstalledApp>& apps)
{
    const auto plist = [](const QString& body) {
        return QString("<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\">%1</plist>").arg(body);
    };
    QString list;
    for (const InstalledApp& app : apps) {
        const QString id = plist("<dict><key>itemId</key><integer>%1</integer></dict>").arg(app.adamID.value_or(0));
        list += "<dict><key>CFBundleIdentifier</key><string>" + app.bundleID
                + "</string><key>CFBundleDisplayName</key><string>" + app.name + "</string>"
                + (app.adamID ? "<key>iTunesMetadata</key><data>" + id.toUtf8().toBase64() + "</data>" : QByteArray())
                + "</dict>";
    }
    using ModelTest::out;
    return {ModelTest::exact("ideviceinstaller", {"--help"},
                             {out("  -l, --list-apps\tList apps"), out("  -i, --install ARCHIVE")}),
            ModelTest::rule("ideviceinstaller", "-l -o xml$", {out(plist("<array>" + list + "</array>"))})};
}

/// A row's controls, right to left, each as its id, marked when it is off.
template <typename View>
QStringList controls(const View& view, const QModelIndex& index)
{
    QStringList shown;
    for (const RowDelegate::Control& control : view.delegate()->controls(view.list()->visualRect(index), index))
        shown.append(control.id + (control.enabled ? "" : " (off)"));
    return shown;
}

/// The texts `parent` shows in widgets of type T (labels, buttons), in the order they were made.
template <typename T>
QStringList shownTexts(const QWidget* parent)
{
    QStringList texts;
    for (const T* child : parent->findChildren<T*>()) {
        if (child->isVisibleTo(parent) && !child->text().isEmpty())
            texts.append(child->text());
    }
    return texts;
}

/// A label's text while it shows; nothing while it is hidden.
inline std::optional<QString> shown(const QWidget* parent, const char* name)
{
    const auto* label = parent->findChild<QLabel*>(name);
    EXPECT_NE(label, nullptr) << name;
    return label && label->isVisibleTo(parent) ? std::optional(label->text()) : std::nullopt;
}

/// Lets a history sync and its store lookup end before the model goes away with the test, so no
/// task is left suspended behind it.
inline void settle(AppModel& model)
{
    AsyncTest::waitUntil([&] { return !model.syncProgress(); });
    QTest::qWait(300);
    model.stopDeviceWatch();
    AsyncTest::waitUntil([&] { return !model.hasDeviceWatchLoop() && !model.hasPhoneAppsRead(); });
}

/// No file manager answers: CTest runs without a session bus, and nothing named xdg-open is found.
struct NoFileManager {
    const QByteArray path = qgetenv("PATH");
    NoFileManager() { qputenv("PATH", "/nonexistent"); }
    ~NoFileManager() { qputenv("PATH", path); }
};

/// A window signed in to an account whose history is already cached, so start-up shows it at once.
struct SignedIn {
    TempHome home;
    StandinTools tools{home.resourceDirectory()};
    AppModel model{offline};
    MainWindow window{&model};

    explicit SignedIn(const QList<PurchasedApp>& apps, QJsonArray extraRules = {}, QJsonObject state = {})
    {
        PurchasesCache::save(apps, email);
        state.insert("signedIn", "yes");
        state.insert("email", email);
        tools.setScenario(ModelTest::scenario(QJsonArray{ModelTest::signedInAs(email)} + extraRules, state));
        window.show();
    }
    ~SignedIn() { settle(model); }

    bool ready()
    {
        return AsyncTest::waitUntil([&] { return model.stage() == AppModel::Stage::signedIn && window.mainView(); });
    }
};

} // namespace WindowTest
