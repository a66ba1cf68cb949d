#include "demo/DemoCatalogue.h"

#include <QTimeZone>

#include <algorithm>
#include <random>

namespace DemoCatalogue {
namespace {

struct Word {
    const char* name;
    const char* slug;
};

// Every noun is masculine, so any adjective agrees with any noun.
constexpr Word russianFirst[] = {
    {"Тихий", "tihiy"},    {"Быстрый", "bystry"}, {"Ясный", "yasny"},      {"Мой", "moy"},
    {"Северный", "sever"}, {"Умный", "umny"},     {"Весёлый", "vesely"},   {"Лёгкий", "legkiy"},
    {"Точный", "tochny"},  {"Добрый", "dobry"},   {"Звёздный", "zvezdny"}, {"Домашний", "doma"},
};
constexpr Word russianSecond[] = {
    {"бюджет", "budget"},     {"словарь", "slovar"},      {"календарь", "calendar"}, {"сон", "son"},
    {"маршрут", "marshrut"},  {"рецепт", "recept"},       {"пульс", "puls"},         {"счётчик", "schetchik"},
    {"дневник", "dnevnik"},   {"фонарик", "fonarik"},     {"компас", "kompas"},      {"будильник", "budilnik"},
    {"конспект", "konspekt"}, {"кроссворд", "krossvord"}, {"сканер", "scanner"},     {"атлас", "atlas"},
    {"метроном", "metronom"}, {"гербарий", "gerbariy"},
};
constexpr Word englishFirst[] = {
    {"Pixel", "pixel"},   {"Cloud", "cloud"}, {"Tiny", "tiny"},   {"Daily", "daily"},
    {"Pocket", "pocket"}, {"Night", "night"}, {"Paper", "paper"}, {"Bright", "bright"},
    {"Quiet", "quiet"},   {"Swift", "swift"}, {"Lunar", "lunar"}, {"Amber", "amber"},
};
constexpr Word englishSecond[] = {
    {"Notes", "notes"},   {"Weather", "weather"}, {"Budget", "budget"}, {"Runner", "runner"},
    {"Tasks", "tasks"},   {"Radio", "radio"},     {"Atlas", "atlas"},   {"Chess", "chess"},
    {"Sketch", "sketch"}, {"Timer", "timer"},     {"Reader", "reader"}, {"Garden", "garden"},
    {"Piano", "piano"},   {"Scanner", "scanner"}, {"Metro", "metro"},   {"Tides", "tides"},
};
constexpr const char* sellers[] = {
    "Студия «Север»", "Blue Lantern Apps", "ООО «Ромашка Софт»", "Tiny Fox Labs", "Пиксельная мастерская",
    "Harbor & Hill",  "Кедр Девелопмент",  "Oddly Useful Ltd",   "Маяк Лабс",     "Paper Moon Studio",
};

struct Pair {
    Word first;
    Word second;
};

// Fisher–Yates on raw mt19937 output: the library's distributions differ between standard
// libraries, and the demo must look the same everywhere.
template <typename T>
void shuffle(QList<T>& items, std::mt19937& random)
{
    for (qsizetype i = items.size() - 1; i > 0; --i)
        items.swapItemsAt(i, static_cast<qsizetype>(random() % static_cast<quint32>(i + 1)));
}

template <size_t F, size_t S>
QList<Pair> pairs(const Word (&first)[F], const Word (&second)[S], std::mt19937& random)
{
    QList<Pair> result;
    for (const Word& a : first) {
        for (const Word& b : second)
            result.append({a, b});
    }
    shuffle(result, random);
    return result;
}

QDateTime utc(int year, int month, int day)
{
    return QDateTime(QDate(year, month, day), QTime(12, 0), QTimeZone::utc());
}

QList<App> build()
{
    std::mt19937 random(20240611);
    const QList<Pair> russian = pairs(russianFirst, russianSecond, random);
    const QList<Pair> english = pairs(englishFirst, englishSecond, random);
    QList<App> result;
    result.reserve(appCount);
    for (int i = 0; i < appCount; ++i) {
        const Pair& pair = i % 2 == 0 ? russian.at(i / 2) : english.at(i / 2);
        App app;
        app.id = 310'000'000 + qint64{i} * 3571 + (qint64{i} * i * 7) % 1000;
        app.name = QString::fromUtf8(pair.first.name) + QLatin1Char(' ') + QString::fromUtf8(pair.second.name);
        app.bundleID =
            QStringLiteral("com.example.%1%2").arg(QLatin1String(pair.first.slug), QLatin1String(pair.second.slug));
        app.version = ladder(static_cast<int>(app.id % 10)).constFirst().displayVersion;
        app.price = i % 13 == 5 ? (i % 3 == 0 ? 149 : i % 3 == 1 ? 299 : 379) : 0;
        app.gone = i % 25 == 7;
        // Apps that left the store were mostly bought long ago.
        const int firstYear = app.gone ? 2011 : 2014;
        const int spanDays = app.gone ? 5 * 365 : 11 * 365;
        app.purchaseDate = utc(firstYear, 1, 1).addDays(random() % spanDays).addSecs(random() % 86400);
        app.seller = QString::fromUtf8(sellers[random() % std::size(sellers)]);
        app.icon = (i * 17) % iconCount;
        result.append(app);
    }
    // The store lists the newest purchases first.
    std::stable_sort(result.begin(), result.end(),
                     [](const App& a, const App& b) { return a.purchaseDate > b.purchaseDate; });
    return result;
}

PhoneApp fromHistory(const App& app)
{
    return {app.bundleID, app.name, app.version, app.id};
}

} // namespace

const QList<App>& apps()
{
    static const QList<App> catalogue = build();
    return catalogue;
}

QList<Version> ladder(int lastDigit)
{
    std::mt19937 random(static_cast<quint32>(7919 * (lastDigit + 1)));
    const int count = 6 + (lastDigit * 7) % 19;
    int major = 1 + lastDigit % 3;
    int minor = 0;
    int patch = 0;
    QDateTime date = utc(2015 + lastDigit % 3, 1 + lastDigit, 10);
    QList<Version> oldestFirst;
    for (int k = 0; k < count; ++k) {
        const QString display = patch == 0 ? QStringLiteral("%1.%2").arg(major).arg(minor)
                                           : QStringLiteral("%1.%2.%3").arg(major).arg(minor).arg(patch);
        oldestFirst.append({QString::number(800'000'000 + lastDigit * 1'000'000 + k * 3'701), display, date});
        date = date.addDays(45 + random() % 90);
        const quint32 step = random() % 10;
        if (step == 0) {
            ++major;
            minor = patch = 0;
        } else if (step < 5) {
            ++minor;
            patch = 0;
        } else {
            ++patch;
        }
    }
    return QList<Version>(oldestFirst.crbegin(), oldestFirst.crend());
}

const App& brokenDownload()
{
    static const App app = [] {
        for (const App& candidate : apps()) {
            if (!candidate.gone && candidate.price == 0 && candidate.name.startsWith(QLatin1String("Cloud")))
                return candidate;
        }
        return apps().constFirst();
    }();
    return app;
}

QList<Phone> phones()
{
    const QList<App>& history = apps();
    Phone cable{QStringLiteral("00008110-000A3C4E2E91801E"),
                QStringLiteral("0x1A3C4E2E91801E"),
                QStringLiteral("iPhone Анны"),
                QStringLiteral("iPhone15,2"),
                QStringLiteral("17.5.1"),
                {}};
    // Every eighth app of the history, gone ones included: those are what the phone still holds.
    for (qsizetype i = 3; i < history.size() && cable.apps.size() < 30; i += 8)
        cable.apps.append(fromHistory(history.at(i)));
    for (const App& app : history) {
        if (app.gone && cable.apps.size() < 34)
            cable.apps.append(fromHistory(app));
    }
    // Test and company builds carry no store metadata.
    cable.apps.append(
        {QStringLiteral("com.example.beta.notes"), QStringLiteral("Заметки β"), QStringLiteral("0.9"), {}});
    cable.apps.append(
        {QStringLiteral("com.example.corp.mail"), QStringLiteral("Рабочая почта"), QStringLiteral("4.2"), {}});
    cable.apps.append(
        {QStringLiteral("com.example.dev.tracker"), QStringLiteral("Tracker Dev"), QStringLiteral("2.0"), {}});
    cable.apps.append({foundByBundleID(), QStringLiteral("Викторина"), QStringLiteral("1.2"), {}});
    // Bought by someone else in the family, so absent from this history.
    cable.apps.append({QStringLiteral("com.example.family.school"), QStringLiteral("Школьный дневник"),
                       QStringLiteral("3.1"), 1'450'112'003});
    cable.apps.append({QStringLiteral("com.example.family.maps"), QStringLiteral("Family Maps"), QStringLiteral("5.4"),
                       1'450'112'217});
    cable.apps.append({QStringLiteral("com.example.family.cook"), QStringLiteral("Семейная кухня"),
                       QStringLiteral("1.7"), 1'450'112'409});
    cable.apps.append({QStringLiteral("com.example.family.stars"), QStringLiteral("Star Gazer"), QStringLiteral("2.2"),
                       1'450'112'655});

    Phone wifi{QStringLiteral("5b1e0c2d9a7f4e3b8c6d1a2f3e4b5c6d7e8f9a0b"),
               {},
               QStringLiteral("iPhone 8 (Wi-Fi)"),
               QStringLiteral("iPhone10,4"),
               QStringLiteral("16.7.8"),
               {}};
    for (qsizetype i = 5; i < history.size() && wifi.apps.size() < 14; i += 21)
        wifi.apps.append(fromHistory(history.at(i)));
    const auto gone = std::find_if(history.crbegin(), history.crend(), [](const App& app) { return app.gone; });
    wifi.apps.append(fromHistory(*gone));
    wifi.apps.append({QStringLiteral("com.example.beta.radio"), QStringLiteral("Радио β"), QStringLiteral("0.4"), {}});
    return {cable, wifi};
}

QString foundByBundleID()
{
    return QStringLiteral("com.example.family.quiz");
}

qint64 foundByBundleIDAppID()
{
    return 1'450'112'871;
}

qint64 needsNewerIOS()
{
    int seen = 0;
    for (const App& app : apps()) {
        if (app.gone && ++seen == 2)
            return app.id;
    }
    return 0;
}

QSet<qint64> recentlyGone()
{
    QSet<qint64> ids;
    int seen = 0;
    for (const App& app : apps()) {
        if (app.gone && ++seen >= 5 && ids.size() < 3)
            ids.insert(app.id);
    }
    return ids;
}

} // namespace DemoCatalogue
