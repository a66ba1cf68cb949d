#include "common/LogFile.h"

#include <QDir>

#include <algorithm>

LogFile::LogFile(QString directory, qint64 limit, int files)
    : m_directory(std::move(directory))
    , m_limit(limit)
    , m_files(std::max(1, files))
{
    open();
}

QString LogFile::path() const
{
    return pathOf(0);
}

QString LogFile::pathOf(int index) const
{
    const QString name = QStringLiteral("quorrel.log");
    return QDir(m_directory).filePath(index == 0 ? name : name + QLatin1Char('.') + QString::number(index));
}

bool LogFile::open()
{
    if (!QDir().mkpath(m_directory)) {
        m_failure = QStringLiteral("не удалось создать папку ") + m_directory;
        return false;
    }
    m_file.setFileName(path());
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Append)) {
        m_failure = m_file.fileName() + QStringLiteral(": ") + m_file.errorString();
        return false;
    }
    return true;
}

void LogFile::rotate()
{
    m_file.close();
    QFile::remove(pathOf(m_files - 1));
    for (int index = m_files - 2; index >= 0; --index)
        QFile::rename(pathOf(index), pathOf(index + 1));
    open();
}

void LogFile::write(const QDateTime& date, bool isError, const QString& text)
{
    if (!isWriting())
        return;
    const QByteArray bytes = line(date, isError, text);
    if (m_file.size() > 0 && m_file.size() + bytes.size() > m_limit) {
        rotate();
        if (!isWriting())
            return;
    }
    // Flushed at once: the lines before a crash are the ones a report needs.
    if (m_file.write(bytes) != bytes.size() || !m_file.flush()) {
        m_failure = m_file.fileName() + QStringLiteral(": ") + m_file.errorString();
        m_file.close();
    }
}

QByteArray LogFile::contents() const
{
    QByteArray all;
    for (int index = m_files - 1; index >= 0; --index) {
        QFile file(pathOf(index));
        if (file.open(QIODevice::ReadOnly))
            all += file.readAll();
    }
    return all;
}

QByteArray LogFile::line(const QDateTime& date, bool isError, const QString& text)
{
    QString escaped = text;
    escaped.replace(QLatin1Char('\\'), QStringLiteral("\\\\"))
        .replace(QLatin1Char('\n'), QStringLiteral("\\n"))
        .replace(QLatin1Char('\r'), QStringLiteral("\\r"));
    // With its offset from UTC, so a reader elsewhere knows the moment.
    const QString time = date.toOffsetFromUtc(date.offsetFromUtc()).toString(Qt::ISODateWithMs);
    return time.toUtf8() + (isError ? " ERROR " : " INFO ") + escaped.toUtf8() + '\n';
}
