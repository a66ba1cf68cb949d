#include "archive/IpaInspector.h"

#include "common/AtomicFile.h"
#include "demo/IpaArchive.h"
#include "support/Test.h"

#include <QBuffer>
#include <QtEndian>

#include <plist/plist.h>

namespace {

using Entries = QList<std::pair<QByteArray, QByteArray>>;

QByteArray png(QColor colour, int side)
{
    QImage image(side, side, QImage::Format_ARGB32);
    image.fill(colour);
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return buffer.data();
}

void chunk(QByteArray& out, const char* type, const QByteArray& data)
{
    char length[4];
    qToBigEndian(quint32(data.size()), length);
    out.append(length, 4).append(type, 4).append(data).append(4, '\0'); // CgBI readers skip the CRC
}

// What Xcode makes of an icon: a CgBI chunk first, bare deflate, premultiplied BGRA, Sub filters.
QByteArray cgbi(const QImage& source)
{
    const QImage image = source.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QByteArray rows;
    for (int y = 0; y < image.height(); ++y) {
        rows.append('\1');
        const auto* line = reinterpret_cast<const char*>(image.constScanLine(y));
        for (int x = 0; x < image.width() * 4; ++x)
            rows.append(char(line[x] - (x >= 4 ? line[x - 4] : 0)));
    }
    const QByteArray zlib = qCompress(rows).mid(4);
    QByteArray header(8, '\0');
    qToBigEndian(quint32(image.width()), header.data());
    qToBigEndian(quint32(image.height()), header.data() + 4);
    header.append("\x08\x06\x00\x00\x00", 5);
    QByteArray out("\x89PNG\r\n\x1a\n", 8);
    chunk(out, "CgBI", QByteArray("\x50\x00\x20\x02", 4));
    chunk(out, "IHDR", header);
    chunk(out, "IDAT", zlib.mid(2, zlib.size() - 6));
    chunk(out, "IEND", {});
    return out;
}

QByteArray xmlPlist(const QByteArray& keys)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\"><dict>" + keys + "</dict></plist>";
}

QByteArray binaryPlist(const QByteArray& xml)
{
    plist_t root = nullptr;
    plist_from_xml(xml.constData(), uint32_t(xml.size()), &root);
    char* bytes = nullptr;
    uint32_t length = 0;
    plist_to_bin(root, &bytes, &length);
    const QByteArray result(bytes, qsizetype(length));
    free(bytes);
    plist_free(root);
    return result;
}

const QByteArray infoKeys = "<key>CFBundleIdentifier</key><string>com.example.saved</string>"
                            "<key>CFBundleShortVersionString</key><string>2.1</string>"
                            "<key>CFBundleVersion</key><string>210</string>"
                            "<key>MinimumOSVersion</key><string>15.0</string>"
                            "<key>CFBundleDisplayName</key><string>Сохранённое</string>";
const QByteArray metadata = xmlPlist("<key>itemId</key><integer>564177498</integer>"
                                     "<key>softwareVersionBundleId</key><string>com.example.meta</string>"
                                     "<key>itemName</key><string>Из метаданных</string>");

class IpaInspectorTest : public ::testing::Test {
protected:
    // Two folders down, so whatever an entry's name could climb to is inside the temporary folder.
    QString write(const QByteArray& bytes, const QString& name = "app.ipa")
    {
        const QString path = dir.filePath("a/b/" + name);
        EXPECT_TRUE(AtomicFile::write(path, bytes));
        return path;
    }
    IpaInfo inspect(const Entries& entries) { return IpaInspector::inspect(write(IpaArchive::zip(entries))); }

    QTemporaryDir dir;
};

} // namespace

TEST_F(IpaInspectorTest, ReadsTheBundleTheStoreMetadataAndTheLargestNamedIcon)
{
    const QByteArray icons = "<key>CFBundleIcons</key><dict><key>CFBundlePrimaryIcon</key><dict>"
                             "<key>CFBundleIconFiles</key><array><string>AppIcon60x60</string></array></dict></dict>";
    IpaInfo info = inspect({{"Payload/Saved.app/Info.plist", xmlPlist(infoKeys + icons)},
                            {"Payload/Saved.app/AppIcon60x60@2x.png", png(Qt::red, 120)},
                            {"Payload/Saved.app/AppIcon60x60@3x.png", png(Qt::blue, 180)},
                            {"Payload/Saved.app/Background.png", png(Qt::green, 400)},
                            {"iTunesMetadata.plist", metadata}});
    ASSERT_EQ(info.icon.size(), QSize(180, 180));
    EXPECT_EQ(info.icon.pixelColor(90, 90), QColor(Qt::blue));
    info.icon = {};
    EXPECT_EQ(info, (IpaInfo{"com.example.saved", "2.1", "210", "15.0", "Сохранённое", 564177498, {}}));
}

TEST_F(IpaInspectorTest, ReadsBinaryPlistsAndAppleCgBIIcons)
{
    QImage art(64, 48, QImage::Format_ARGB32);
    art.fill(QColor(200, 40, 10));
    art.setPixelColor(5, 5, QColor(0, 0, 255, 128));
    const IpaInfo info =
        inspect({{"Payload/Bin.app/Info.plist",
                  binaryPlist(xmlPlist("<key>CFBundleIdentifier</key><string>com.example.binary</string>"
                                       "<key>MinimumOSVersion</key><string>17.2</string>"))},
                 {"Payload/Bin.app/AppIcon76x76@2x~ipad.png", cgbi(art)}});
    EXPECT_EQ(info.bundleID, "com.example.binary");
    EXPECT_EQ(info.minimumOS, "17.2");
    ASSERT_EQ(info.icon.size(), QSize(64, 48));
    EXPECT_EQ(info.icon.pixelColor(30, 30), QColor(200, 40, 10));
    const QColor half = info.icon.pixelColor(5, 5);
    EXPECT_EQ(half.alpha(), 128);
    EXPECT_NEAR(half.blue(), 255, 2);
    EXPECT_EQ(half.red(), 0);
}

TEST_F(IpaInspectorTest, BadArchivesGiveWhatCanBeReadAndNeverWriteAFile)
{
    const QByteArray plist = xmlPlist(infoKeys);
    const struct {
        const char* what;
        Entries entries;
        std::optional<QString> bundleID;
        std::optional<qint64> appID;
    } cases[] = {
        {"metadata only", {{"iTunesMetadata.plist", metadata}}, QString("com.example.meta"), 564177498},
        {"plist too large", {{"Payload/A.app/Info.plist", xmlPlist(QByteArray(5 << 20, ' '))}}, {}, {}},
        {"malformed plist", {{"Payload/A.app/Info.plist", "<plist><dict><key>CFBundleIdentifier"}}, {}, {}},
        {"icon is no PNG",
         {{"Payload/A.app/Info.plist", plist}, {"Payload/A.app/AppIcon60x60@2x.png", "GIF89a not a png"}},
         QString("com.example.saved"),
         {}},
        {"names that climb out",
         {{"../Payload/A.app/Info.plist", plist},
          {"/Payload/A.app/Info.plist", plist},
          {"Payload/../Info.plist", plist},
          {"Payload/A.app/../../Info.plist", plist}},
         {},
         {}},
    };
    for (const auto& example : cases) {
        const IpaInfo info = inspect(example.entries);
        EXPECT_EQ(info.bundleID, example.bundleID) << example.what;
        EXPECT_EQ(info.appID, example.appID) << example.what;
        EXPECT_TRUE(info.icon.isNull()) << example.what;
    }
    EXPECT_EQ(IpaInspector::inspect(write("PK\3\4 this is no zip")), IpaInfo{});
    EXPECT_EQ(IpaInspector::inspect(dir.filePath("missing.ipa")), IpaInfo{});
    QStringList files;
    for (QDirIterator it(dir.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories); it.hasNext();)
        files.append(it.next().mid(dir.path().size()));
    EXPECT_EQ(files, QStringList{"/a/b/app.ipa"});
}

TEST(IpaInspector, ComparesVersionsByNumber)
{
    const struct {
        const char* a;
        const char* b;
        int order;
    } cases[] = {{"16.4", "16.10", -1}, {"9.3", "16.0", -1}, {"17", "17.0.0", 0},
                 {"17.1", "17.0.9", 1}, {"18.0b2", "18", 0}, {"", "1", -1}};
    for (const auto& example : cases)
        EXPECT_EQ(IpaInspector::compareVersions(example.a, example.b), example.order) << example.a << " " << example.b;
}

TEST_F(IpaInspectorTest, ReadsNewFilesOffTheInterfaceThreadOnceUntilTheyChange)
{
    const QString path = write(IpaArchive::zip({{"Payload/A.app/Info.plist", xmlPlist(infoKeys)}}));
    IpaInspector inspector;
    inspector.request({path, dir.filePath("missing.ipa")});
    ASSERT_TRUE(AsyncTest::waitUntil([&] { return inspector.info(path).has_value(); }));
    EXPECT_EQ(inspector.info(path)->bundleID, "com.example.saved");
    EXPECT_FALSE(inspector.info(dir.filePath("missing.ipa")));

    // Unchanged: nothing to read. Rewritten with other content: read again.
    inspector.request({path});
    EXPECT_FALSE(inspector.isReading());
    write(IpaArchive::zip({{"Payload/A.app/Info.plist", xmlPlist("<key>CFBundleIdentifier</key><string>x.y</string>")},
                           {"pad", QByteArray(10, 'x')}}));
    EXPECT_EQ(AsyncTest::await(inspector.read(path)).bundleID, "x.y");
    EXPECT_EQ(inspector.info(path)->bundleID, "x.y");
}
