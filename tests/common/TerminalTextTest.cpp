#include "common/TerminalText.h"

#include "support/Test.h"

TEST(TerminalText, DropsEscapeSequencesAndKeepsTheText)
{
    // Colours, a title and a link (OSC ended by BEL and by ST), a charset switch, a cut-off tail.
    EXPECT_EQ(TerminalText::withoutEscapes("\033[1;31mError:\033[0m нет сети"), "Error: нет сети");
    EXPECT_EQ(TerminalText::withoutEscapes("\033]0;ipatool\007done\033]8;;https://x\033\\link"), "donelink");
    EXPECT_EQ(TerminalText::withoutEscapes("\033(Bplain\0337 text, cut \033[38;5"), "plain text, cut ");
    EXPECT_EQ(TerminalText::withoutEscapes("[1;31m left alone"), "[1;31m left alone");
}
