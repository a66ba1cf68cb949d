#include "process/OutputCollector.h"

#include "support/Test.h"

using Stream = OutputCollector::Stream;

TEST(OutputCollector, LinesAndCharactersCutAcrossChunksComeOutWholeAndOnce)
{
    const QByteArray word = QStringLiteral("Журнал").toUtf8();
    const QString bad(QChar(0xFFFD));
    const struct {
        const char* what;
        QList<std::pair<QByteArray, Stream>> chunks;
        QStringList lines; // as handed out, after two flushes
    } cases[] = {
        {"progress", {{"45", Stream::out}, {"%\r4", Stream::out}, {"6%\r", Stream::out}}, {"45%", "46%"}},
        {"tails, standard output first",
         {{"err tail  ", Stream::err}, {"\t out tail", Stream::out}},
         {"out tail", "err tail"}},
        {"a character split", {{word.left(3), Stream::out}, {word.mid(3) + '\n', Stream::out}}, {"Журнал"}},
        {"invalid and cut-off UTF-8",
         {{"ok \xff\xfe end\n", Stream::out}, {"\xc3", Stream::out}},
         {"ok " + bad + bad + " end", bad}},
    };
    for (const auto& example : cases) {
        QStringList seen;
        OutputCollector collector([&](const QString& line) { seen.append(line); });
        for (const auto& [bytes, stream] : example.chunks)
            collector.append(bytes, stream);
        collector.flush();
        collector.flush();
        EXPECT_EQ(seen, example.lines) << example.what;
        EXPECT_EQ(collector.result(0).lines(), seen) << example.what;
    }
}
