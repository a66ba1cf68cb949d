#include "common/TerminalText.h"

#include "support/QtPrinters.h"

#include <gtest/gtest.h>

TEST(TerminalText, DropsEscapeSequencesAndKeepsTheText)
{
    const struct {
        QString raw;
        QString plain;
    } cases[] = {
        {"\x1b[1;31mError:\x1b[0m нет сети", "Error: нет сети"},
        {"\x1b]0;ipatool\x07"
         "done\x1b]8;;https://x\x1b\\link",
         "donelink"},
        {"\x1b(Bplain\x1b"
         "7 text",
         "plain text"},
        {"cut off \x1b[38;5", "cut off "},
        {"[1;31m left alone, ёж", "[1;31m left alone, ёж"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TerminalText::withoutEscapes(c.raw), c.plain) << c.raw.toStdString();
}
