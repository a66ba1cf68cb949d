#include "common/PlistRead.h"

#include "support/Test.h"

#include <QElapsedTimer>
#include <QtEndian>

#include <plist/plist.h>

namespace {

// A binary list of `objects` (each the bytes of one object) and its offset table and trailer, with
// four-byte offsets and references.
QByteArray binaryList(const QList<QByteArray>& objects, quint64 root = 0)
{
    QByteArray data("bplist00");
    QList<quint32> offsets;
    for (const QByteArray& object : objects) {
        offsets.append(quint32(data.size()));
        data.append(object);
    }
    const quint64 table = quint64(data.size());
    for (const quint32 offset : offsets) {
        const quint32 big = qToBigEndian(offset);
        data.append(reinterpret_cast<const char*>(&big), 4);
    }
    QByteArray trailer(32, '\0');
    trailer[6] = 4;
    trailer[7] = 4;
    qToBigEndian(quint64(objects.size()), trailer.data() + 8);
    qToBigEndian(root, trailer.data() + 16);
    qToBigEndian(table, trailer.data() + 24);
    return data + trailer;
}

QByteArray arrayOf(const QList<quint32>& references)
{
    QByteArray object(1, char(0xA0 | references.size()));
    for (const quint32 reference : references) {
        const quint32 big = qToBigEndian(reference);
        object.append(reinterpret_cast<const char*>(&big), 4);
    }
    return object;
}

bool parses(const QByteArray& bytes)
{
    return bool(PlistRead::parse(bytes));
}

} // namespace

TEST(PlistRead, NestingBeyondRealListsIsRefusedFastInBothForms)
{
    constexpr int levels = 100000;
    QList<QByteArray> chain;
    for (quint32 i = 0; i + 1 < levels; ++i)
        chain.append(arrayOf({i + 1}));
    chain.append(arrayOf({}));
    const QByteArray xml =
        "<plist>" + QByteArray("<array>").repeated(levels) + QByteArray("</array>").repeated(levels) + "</plist>";

    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(parses(binaryList(chain)));
    EXPECT_FALSE(parses(xml));
    // A few kilobytes that libplist would copy into two billion nodes, one shared object at a time.
    QList<QByteArray> doubling;
    for (quint32 i = 0; i < 30; ++i)
        doubling.append(arrayOf({i + 1, i + 1}));
    doubling.append(arrayOf({}));
    EXPECT_FALSE(parses(binaryList(doubling)));
    // A cycle.
    EXPECT_FALSE(parses(binaryList({arrayOf({1}), arrayOf({0})})));
    EXPECT_LT(clock.elapsed(), 20000); // a hang, not a timing: libplist alone takes minutes or crashes

    // Real lists nest a few levels, and comments or self-closed containers do not count.
    QList<QByteArray> shallow;
    for (quint32 i = 0; i < 10; ++i)
        shallow.append(arrayOf({i + 1, i + 1}));
    shallow.append(arrayOf({}));
    EXPECT_TRUE(parses(binaryList(shallow)));
    EXPECT_TRUE(
        parses("<plist><dict><key>a</key><array><!-- <array><array> --><dict/><array/></array></dict></plist>"));
    EXPECT_TRUE(
        parses("<plist>" + QByteArray("<array>").repeated(90) + QByteArray("</array>").repeated(90) + "</plist>"));
}

TEST(PlistRead, BinaryTrailerAndReferencesMustStayInsideTheData)
{
    const QByteArray good = binaryList({arrayOf({1}), QByteArray(1, char(0x09))});
    ASSERT_TRUE(parses(good));
    const auto with = [&](int at, QByteArray bytes) {
        QByteArray changed = good;
        changed.replace(good.size() - 32 + at, bytes.size(), bytes);
        return changed;
    };
    const QByteArray huge("\x7f\xff\xff\xff\xff\xff\xff\xf0", 8);
    for (const QByteArray& crafted : QList<QByteArray>{
             with(6, QByteArray(1, '\0')),   // offsets of no width
             with(7, QByteArray(1, '\x09')), // references wider than eight bytes
             with(8, huge),                  // more objects than the table holds
             with(16, huge),                 // a root past the objects
             with(24, huge),                 // a table far past the end
             with(24, QByteArray(8, '\0')),  // a table inside the header
             binaryList({arrayOf({7})}),     // a reference to no object
             binaryList({QByteArray("\xAF\x13\x7f\xff\xff\xff\xff\xff\xff\xff", 10)}), // a count past the end
             good.left(good.size() - 1),
         })
        EXPECT_FALSE(PlistRead::isWithinLimits(crafted)) << crafted.toHex().toStdString();
}
