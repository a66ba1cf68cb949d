#pragma once

#include <QDateTime>
#include <QList>
#include <QSet>
#include <QString>

#include <optional>

/// The demo's made-up world: a purchase history of fictional apps, some gone from the store, the
/// version ladders the store keeps for them and the apps two phones hold. Built from fixed tables
/// and a fixed seed, so every run shows the same data.
namespace DemoCatalogue {

struct App {
    qint64 id = 0;
    QString bundleID;
    QString name;
    QString version;
    double price = 0;
    QDateTime purchaseDate;
    QString seller;
    int icon = 0; // index into the shipped icons
    bool gone = false;
};

/// One version of a ladder: newest first, the store's external ID and what its metadata says.
struct Version {
    QString externalID;
    QString displayVersion;
    QDateTime releaseDate;
};

/// An app on a phone; without an App ID it carries no store metadata (a test or company build).
struct PhoneApp {
    QString bundleID;
    QString name;
    QString version;
    std::optional<qint64> adamID;
};

struct Phone {
    QString udid;
    QString ecid; // empty for the phone seen only over Wi-Fi
    QString name;
    QString productType;
    QString iosVersion;
    QList<PhoneApp> apps;
};

constexpr int appCount = 300;
constexpr int iconCount = 48;
constexpr int ladderCount = 10;

const QList<App>& apps();
/// The ladder an App ID uses is picked by its last digit, which the stand-in can match on.
QList<Version> ladder(int lastDigit);
/// The one app whose download always fails.
const App& brokenDownload();
/// The phone on the cable first, then the one on Wi-Fi.
QList<Phone> phones();
/// A phone app restored without its store metadata that the store still finds by bundle id.
QString foundByBundleID();
qint64 foundByBundleIDAppID();
/// A gone app whose latest build needs a newer iOS than either phone has.
qint64 needsNewerIOS();
/// Gone apps the store still offered two days before the demo starts.
QSet<qint64> recentlyGone();

} // namespace DemoCatalogue
