#include "device/KnownAppsStore.h"

#include "common/ReferenceDate.h"
#include "process/Tools.h"
#include "support/QtPrinters.h"
#include "support/TempHome.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRandomGenerator>

#include <gtest/gtest.h>

namespace {

const QDateTime first = QDateTime(QDate(2024, 3, 1), QTime(10, 0, 0, 250), Qt::UTC);
const QDateTime later = QDateTime(QDate(2024, 6, 1), QTime(9, 30), Qt::UTC);

KnownApp app(qint64 adamID, const QString& name, const QString& source = KnownApp::deviceSource(),
             const QDateTime& seenAt = first)
{
    return KnownApp{adamID, "com.example." + QString::number(adamID), name, source, seenAt};
}

QString storePath()
{
    return QDir(Tools::cacheDirectory()).filePath("known-apps.json");
}

void writeFile(const QByteArray& content)
{
    QFile file(storePath());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(content);
}

QJsonArray readFile()
{
    QFile file(storePath());
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll());
    EXPECT_TRUE(document.isArray());
    return document.array();
}

} // namespace

TEST(KnownAppsStore, MergeKeepsFirstSightingUnlessTheNameChanged)
{
    TempHome home;
    KnownAppsStore store;
    EXPECT_EQ(store.path(), storePath());
    store.merge({app(1, "Бета"), app(2, "alpha")});
    store.merge(
        {app(1, "Бета", KnownApp::downloadSource(), later), app(2, "Alpha 2", KnownApp::downloadSource(), later)});

    const QList<KnownApp> all = store.all();
    ASSERT_EQ(all.size(), 2);
    EXPECT_EQ(all[0], app(2, "Alpha 2", KnownApp::downloadSource(), later));
    EXPECT_EQ(all[1], app(1, "Бета")); // source and date of the first sighting survive

    // A second store reads back exactly what the first wrote, dates to the millisecond.
    KnownAppsStore reread;
    EXPECT_EQ(reread.all(), all);
    const QJsonObject stored = readFile().at(0).toObject();
    EXPECT_TRUE(stored.value("seenAt").isDouble());
    EXPECT_EQ(stored.keys(), (QStringList{"adamID", "bundleID", "name", "seenAt", "source"}));
}

TEST(KnownAppsStore, SeenAtIsSecondsSince2001)
{
    TempHome home;
    KnownAppsStore store;
    store.merge({app(7, "x", KnownApp::deviceSource(), QDateTime(QDate(2001, 1, 1), QTime(0, 1, 0, 500), Qt::UTC))});
    EXPECT_DOUBLE_EQ(readFile().at(0).toObject().value("seenAt").toDouble(), 60.5);
}

TEST(KnownAppsStore, EmptyMergeStillWritesAndSortingIgnoresCase)
{
    TempHome home;
    KnownAppsStore store;
    store.merge({});
    EXPECT_EQ(readFile().size(), 0);
    store.merge({app(3, "b"), app(4, "A"), app(5, "C")});
    QStringList names;
    for (const KnownApp& known : store.all())
        names.append(known.name);
    EXPECT_EQ(names, (QStringList{"A", "b", "C"}));
}

TEST(KnownAppsStore, BrokenFilesAreAnEmptyStoreAndGetOverwritten)
{
    QRandomGenerator random(7);
    QByteArray noise(10 * 1024 * 1024, Qt::Uninitialized);
    for (char& byte : noise)
        byte = static_cast<char>(random.bounded(256));
    for (const QByteArray& content : {QByteArray(R"({"adamID":1,"bundleID":"a","name":"a","source":"s","seenAt":0})"),
                                      QByteArray("[{\"adamID\":1,"), noise, QByteArray()}) {
        TempHome home;
        writeFile(content);
        KnownAppsStore store;
        EXPECT_TRUE(store.all().isEmpty());
        store.merge({app(9, "New")});
        EXPECT_EQ(readFile().size(), 1);
    }
}

TEST(KnownAppsStore, HandEditedFileKeepsGoodRecordsAndTheLastOfDuplicates)
{
    TempHome home;
    const double seconds = ReferenceDate::toSeconds(first);
    QJsonArray records{
        QJsonObject{{"adamID", 1}, {"bundleID", "a"}, {"name", "Old"}, {"source", "скачано"}, {"seenAt", seconds}},
        QJsonObject{{"adamID", "2"}, {"bundleID", "b"}, {"name", "Text ID"}, {"source", "x"}, {"seenAt", seconds}},
        QJsonObject{{"adamID", 3}, {"bundleID", "c"}, {"name", "No date"}, {"source", "x"}},
        "not an object",
        QJsonObject{{"adamID", 1}, {"bundleID", "a"}, {"name", "New"}, {"source", "скачано"}, {"seenAt", seconds}},
        QJsonObject{{"adamID", 4},
                    {"bundleID", "d"},
                    {"name", "Fraction"},
                    {"source", "x"},
                    {"seenAt", seconds},
                    {"extra", true}},
    };
    writeFile(QJsonDocument(records).toJson());
    KnownAppsStore store;
    const QList<KnownApp> all = store.all();
    ASSERT_EQ(all.size(), 2);
    EXPECT_EQ(all[0].name, "Fraction");
    EXPECT_EQ(all[1].name, "New");
    EXPECT_EQ(all[1].seenAt, first);
}

TEST(KnownAppsStore, FileIsReadOnceAndAFailedWriteIsRetriedByTheNextMerge)
{
    TempHome home;
    KnownAppsStore store;
    EXPECT_TRUE(store.all().isEmpty());
    writeFile(QJsonDocument(QJsonArray{app(1, "From disk").toJson()}).toJson());
    EXPECT_TRUE(store.all().isEmpty()); // loaded already: memory is the truth

    // A folder in the file's place makes the write fail; the record stays in memory.
    QFile::remove(storePath());
    QDir().mkpath(storePath());
    store.merge({app(2, "Kept")});
    EXPECT_EQ(store.all().size(), 1);
    QDir(storePath()).removeRecursively();
    store.merge({});
    ASSERT_EQ(readFile().size(), 1);
    EXPECT_EQ(readFile().at(0).toObject().value("name").toString(), "Kept");
}
