#include "common/JsonWriter.h"

#include "support/Test.h"

#include <QStringDecoder>

#include <cmath>
#include <limits>

namespace {

// Everything JSON must escape, Unicode beyond the BMP, and the lone UTF-16 halves an account
// name can hold: each must read back as itself.
QStringList awkwardStrings()
{
    QString controls;
    for (char16_t c = 0; c < 0x20; ++c)
        controls.append(QChar(c));
    controls.append(QChar(0x7f));
    return {QString(),
            "\"quoted\" and \\back\\slashed\\",
            controls,
            QString(QChar(0)) + "after a NUL",
            "Привет, мир — «ёлка»",
            QString::fromUtf8("\xF0\x9F\x98\x80 \xF0\x9F\x87\xB7\xF0\x9F\x87\xBA"), // emoji and a flag: surrogate pairs
            QString(QChar(0x2028)) + "line" + QChar(0x2029) + "separators",
            "</script><!-- \\u0041 is not an escape here -->",
            QString(QChar(0xFEFF)) + "BOM " + QChar(0xFFFF),
            QString(QChar(0xD83D)) + "x",
            "x" + QString(QChar(0xDE00)),
            QString(QChar(0xDE00)) + QChar(0xD83D)};
}

QJsonDocument parse(const QByteArray& json)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError)
        << error.errorString().toStdString() << " in " << json.toStdString();
    return document;
}

} // namespace

TEST(JsonWriter, AwkwardStringsReadBackAsThemselvesFromValidUtf8)
{
    const QStringList strings = awkwardStrings();
    JsonWriter writer;
    writer.beginArray();
    for (const QString& text : strings)
        writer.value(text);
    writer.value(QLatin1String("caf\xe9 \"\x01\""));
    writer.endArray();
    const QByteArray json = writer.take();

    auto decoder = QStringDecoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString decoded = decoder(json);
    EXPECT_FALSE(decoder.hasError());
    for (const char byte : json)
        EXPECT_GE(static_cast<unsigned char>(byte), 0x20) << "raw control character in " << json.toStdString();
    // Non-ASCII text goes out as UTF-8, not as \u escapes; a lone half cannot, so it is escaped.
    EXPECT_TRUE(json.contains(QStringLiteral("Привет").toUtf8()));
    EXPECT_TRUE(json.contains("\xF0\x9F\x98\x80"));
    EXPECT_TRUE(json.contains("\\ud83d") || json.contains("\\uD83D")) << json.toStdString();

    const QJsonArray list = parse(json).array();
    ASSERT_EQ(list.size(), strings.size() + 1);
    for (qsizetype i = 0; i < strings.size(); ++i)
        EXPECT_EQ(list[i].toString(), strings[i]) << i;
    EXPECT_EQ(list.last().toString(), QString::fromUtf8("café \"\x01\""));
}

TEST(JsonWriter, IntegersKeepAllSixtyFourBitsDoublesRoundTripAndNonFiniteBecomeNull)
{
    using Limits = std::numeric_limits<qint64>;
    // 2^53 + 1: a double would round it.
    const QList<qint64> integers{0, -1, 42, 9007199254740993, -9007199254740993, Limits::max(), Limits::min()};
    const QList<double> doubles{0.1,          2.99,   -0.0,          1.5,    1e300,
                                -1e-300,      5e-324, 123456789.125, 4.2e21, std::numeric_limits<double>::max(),
                                776595009.125};
    const double infinity = std::numeric_limits<double>::infinity();
    JsonWriter writer;
    writer.beginArray();
    for (const qint64 number : integers)
        writer.value(number);
    writer.endArray();
    EXPECT_EQ(writer.take(), "[0,-1,42,9007199254740993,-9007199254740993,9223372036854775807,-9223372036854775808]");

    writer.beginArray();
    for (const double number : doubles)
        writer.value(number);
    for (const double bad : {std::nan(""), infinity, -infinity})
        writer.value(bad);
    writer.endArray();
    const QByteArray json = writer.take();
    const QJsonArray array = parse(json).array();
    ASSERT_EQ(array.size(), doubles.size() + 3);
    for (qsizetype i = 0; i < doubles.size(); ++i)
        EXPECT_EQ(array[i].toDouble(), doubles[i]) << json.toStdString();
    for (qsizetype i = doubles.size(); i < array.size(); ++i)
        EXPECT_TRUE(array[i].isNull()) << json.toStdString();
}
