#include "common/RussianText.h"

#include "support/QtPrinters.h"

#include <gtest/gtest.h>

TEST(RussianText, PicksTheFormForEachCountAndGroupsThousandsInRussian)
{
    const auto word = [](qint64 n) { return RussianText::plural(n, "файл", "файла", "файлов"); };
    for (const qint64 n : {1, 21, 101, 1001})
        EXPECT_EQ(word(n), "файл") << n;
    for (const qint64 n : {2, 4, 22, 34, 102})
        EXPECT_EQ(word(n), "файла") << n;
    for (const qint64 n : {0, 5, 11, 12, 14, 15, 20, 111, 112, 114, 211})
        EXPECT_EQ(word(n), "файлов") << n;
    EXPECT_EQ(RussianText::apps(1), "1 приложение");
    EXPECT_EQ(RussianText::apps(3), "3 приложения");
    EXPECT_EQ(RussianText::apps(12345), QString::fromUtf8("12\u00a0345 приложений"));
}
