#include "common/RussianText.h"

#include "support/Test.h"

#include <QDate>
#include <QTime>

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

TEST(RussianText, DatesTimesAndSizesAreRussianWhateverTheSystemLocale)
{
    // The test programs run under C.UTF-8; an English default must not leak in either.
    const QLocale previous;
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    const QDate date(2024, 11, 2);
    EXPECT_EQ(RussianText::date(date), "2 нояб. 2024");
    EXPECT_EQ(RussianText::date(QDate(2024, 5, 9)), "9 мая 2024");
    EXPECT_EQ(RussianText::longDate(date), "2 ноября 2024 г.");
    EXPECT_EQ(RussianText::shortDate(date), "02.11.2024");
    EXPECT_EQ(RussianText::time(QTime(14, 3, 5)), "14:03");
    EXPECT_EQ(RussianText::timeWithSeconds(QTime(9, 3, 5)), "09:03:05");
    EXPECT_EQ(RussianText::size(113357), "110,7 кБ");
    EXPECT_EQ(RussianText::size(110700, QLocale::DataSizeSIFormat), "110,7 кБ");
    EXPECT_EQ(RussianText::size(91226112), "87,0 МБ");
    // Qt's own byte unit has one form for every count.
    EXPECT_EQ(RussianText::size(1), "1 байт");
    EXPECT_EQ(RussianText::size(2), "2 байта");
    EXPECT_EQ(RussianText::size(500), "500 байт");
    EXPECT_EQ(RussianText::size(1023), QString::fromUtf8("1\u00a0023 байта"));
    QLocale::setDefault(previous);
}
