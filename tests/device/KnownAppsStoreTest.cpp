#include "device/KnownAppsStore.h"

#include "common/AtomicFile.h"
#include "common/ReferenceDate.h"
#include "process/Tools.h"
#include "support/Test.h"

namespace {

const QDateTime first = QDateTime(QDate(2024, 3, 1), QTime(10, 0, 0, 250), Qt::UTC);
// A minute and half a second after the reference date: stored as 60.5.
const QDateTime second = QDateTime(QDate(2001, 1, 1), QTime(0, 1, 0, 500), Qt::UTC);

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
    ASSERT_TRUE(AtomicFile::write(storePath(), content));
}

QJsonArray readFile()
{
    return QJsonDocument::fromJson(AtomicFile::read(storePath()).value_or("")).array();
}

} // namespace

TEST(KnownAppsStore, MergeKeepsFirstSightingUnlessTheNameChangedAndRereadsExactly)
{
    TempHome home;
    KnownAppsStore store;
    store.merge({app(1, "Бета"), app(2, "alpha"), app(3, "b"), app(4, "C")});
    const QString download = KnownApp::downloadSource();
    store.merge({app(1, "Бета", download, second), app(2, "Alpha 2", download, second)});

    // By name ignoring case; a sighting under the same name keeps the first one's source and date.
    const QList<KnownApp> all = store.all();
    EXPECT_EQ(all, (QList<KnownApp>{app(2, "Alpha 2", download, second), app(3, "b"), app(4, "C"), app(1, "Бета")}));
    // A second store reads back exactly what the first wrote, dates to the millisecond.
    EXPECT_EQ(KnownAppsStore().all(), all);
    QStringList stored;
    for (const QJsonValue& record : readFile())
        stored.append(QJsonDocument(record.toObject()).toJson(QJsonDocument::Compact));
    stored.sort();
    const QString seen = R"(","seenAt":730980000.25,"source":"устройство"})";
    const QString downloaded = R"(","seenAt":60.5,"source":"скачано"})";
    EXPECT_EQ(stored, (QStringList{R"({"adamID":1,"bundleID":"com.example.1","name":"Бета)" + seen,
                                   R"({"adamID":2,"bundleID":"com.example.2","name":"Alpha 2)" + downloaded,
                                   R"({"adamID":3,"bundleID":"com.example.3","name":"b)" + seen,
                                   R"({"adamID":4,"bundleID":"com.example.4","name":"C)" + seen}));
}

TEST(KnownAppsStore, BrokenFilesAreAnEmptyStoreAndGetOverwrittenAndEditedOnesKeepTheirGoodRecords)
{
    for (const QByteArray& content : {QByteArray(R"({"adamID":1,"bundleID":"a","name":"a","source":"s","seenAt":0})"),
                                      QByteArray("[{\"adamID\":1,"), QByteArray("\xff\xfe\0[{}]", 7), QByteArray()}) {
        TempHome home;
        writeFile(content);
        KnownAppsStore store;
        EXPECT_TRUE(store.all().isEmpty());
        store.merge({app(9, "New")});
        EXPECT_EQ(readFile().size(), 1);
    }

    // A hand-edited file keeps its good records and the last of duplicates.
    TempHome home;
    const double seconds = ReferenceDate::toSeconds(first);
    const auto record = [&](const QJsonValue& adamID, const QString& name) {
        return QJsonObject{{"adamID", adamID}, {"bundleID", "b"}, {"name", name}, {"source", "x"}, {"seenAt", seconds}};
    };
    QJsonObject undated = record(3, "No date");
    undated.remove("seenAt");
    QJsonObject extra = record(4, "Extra field");
    extra.insert("extra", true);
    writeFile(QJsonDocument(QJsonArray{record(1, "Old"), record("2", "Text ID"), undated, "not an object",
                                       record(1, "New"), extra})
                  .toJson());
    EXPECT_EQ(KnownAppsStore().all(),
              (QList<KnownApp>{{4, "b", "Extra field", "x", first}, {1, "b", "New", "x", first}}));
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
    QDir(storePath()).removeRecursively();
    store.merge({});
    EXPECT_EQ(KnownAppsStore().all(), QList<KnownApp>{app(2, "Kept")});
}
