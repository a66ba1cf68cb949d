#include "common/LogFile.h"

#include "support/Test.h"

#include <QTimeZone>

TEST(LogFile, RotatesAtTheLimitKeepingThreeFilesOfWholeLines)
{
    QTemporaryDir dir;
    const QString folder = dir.filePath("state/Quorrel");
    LogFile log(folder, 300);
    ASSERT_TRUE(log.isWriting());
    const QDateTime date(QDate(2025, 3, 4), QTime(14, 3, 5, 120), QTimeZone(3 * 3600));
    for (int i = 0; i < 40; ++i)
        log.write(date, i % 2 == 1, QString("запись %1\nвторая строка").arg(i, 2, 10, QChar('0')));

    EXPECT_EQ(QDir(folder).entryList(QDir::Files), (QStringList{"quorrel.log", "quorrel.log.1", "quorrel.log.2"}));
    for (const char* name : {"quorrel.log", "quorrel.log.1", "quorrel.log.2"})
        EXPECT_LE(QFileInfo(QDir(folder).filePath(name)).size(), 300) << name;

    const QStringList lines = QString::fromUtf8(log.contents()).split('\n', Qt::SkipEmptyParts);
    ASSERT_GE(lines.size(), 6);
    EXPECT_EQ(lines.last(), "2025-03-04T14:03:05.120+03:00 ERROR запись 39\\nвторая строка");
    const QRegularExpression shape(R"(^\S+ (INFO|ERROR) запись (\d\d)\\nвторая строка$)");
    int previous = -1;
    for (const QString& line : lines) {
        const QRegularExpressionMatch match = shape.match(line);
        ASSERT_TRUE(match.hasMatch()) << line.toStdString();
        EXPECT_EQ(match.captured(2).toInt(), previous < 0 ? match.captured(2).toInt() : previous + 1)
            << "oldest first, nothing lost within the kept files";
        previous = match.captured(2).toInt();
    }
}
