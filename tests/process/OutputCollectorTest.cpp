#include "process/OutputCollector.h"

#include "support/QtPrinters.h"

#include <gtest/gtest.h>

using Stream = OutputCollector::Stream;

TEST(OutputCollector, CarriageReturnAndLineFeedBothEndLinesAndBlankLinesVanish)
{
    QStringList seen;
    OutputCollector collector([&](const QString& line) { seen.append(line); });
    collector.append("a\r\nb\n", Stream::out);
    collector.append("  x \t\n\n\n", Stream::err);
    EXPECT_EQ(seen, (QStringList{"a", "b", "x"}));
    EXPECT_EQ(collector.result(0).lines(), seen);
}

TEST(OutputCollector, LineSplitAcrossChunksIsDeliveredOnceWhole)
{
    QStringList seen;
    OutputCollector collector([&](const QString& line) { seen.append(line); });
    collector.append("45", Stream::out);
    collector.append("%\r4", Stream::out);
    EXPECT_EQ(seen, QStringList{"45%"});
    collector.append("6%\r", Stream::out);
    EXPECT_EQ(seen, (QStringList{"45%", "46%"}));
}

TEST(OutputCollector, FlushDeliversUnterminatedRemaindersStandardOutputFirst)
{
    QStringList seen;
    OutputCollector collector([&](const QString& line) { seen.append(line); });
    collector.append("err tail  ", Stream::err);
    collector.append("\t out tail", Stream::out);
    EXPECT_TRUE(seen.isEmpty());
    collector.flush();
    EXPECT_EQ(seen, (QStringList{"out tail", "err tail"}));
    collector.flush();
    EXPECT_EQ(seen.size(), 2);
}

TEST(OutputCollector, KeepsStreamsApartAndUntrimmedInTheResult)
{
    OutputCollector collector;
    collector.append(" one\n", Stream::out);
    collector.append("two\r\n", Stream::err);
    const ProcessOutput output = collector.result(7);
    EXPECT_EQ(output.status, 7);
    EXPECT_EQ(output.standardOutput(), " one\n");
    EXPECT_EQ(output.standardError(), "two\r\n");
}

TEST(OutputCollector, InvalidUtf8BecomesReplacementCharacter)
{
    OutputCollector collector;
    collector.append(QByteArray("ok \xff\xfe end\n", 10), Stream::out);
    collector.append(QByteArray("\xc3", 1), Stream::out); // a sequence cut off by the end of output
    collector.flush();
    const ProcessOutput output = collector.result(0);
    ASSERT_EQ(output.lines().size(), 2);
    EXPECT_TRUE(output.lines()[0].startsWith("ok "));
    EXPECT_TRUE(output.lines()[0].contains(QChar(0xFFFD)));
    EXPECT_TRUE(output.lines()[0].endsWith(" end"));
    EXPECT_EQ(output.lines()[1], QString(QChar(0xFFFD)));
}

TEST(OutputCollector, MultibyteCharacterSplitAcrossChunksSurvives)
{
    OutputCollector collector;
    const QByteArray word = QStringLiteral("Журнал").toUtf8();
    collector.append(word.left(3), Stream::out);
    collector.append(word.mid(3) + '\n', Stream::out);
    EXPECT_EQ(collector.result(0).lines(), QStringList{QStringLiteral("Журнал")});
}
