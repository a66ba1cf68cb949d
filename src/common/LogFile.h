#pragma once

#include <QDateTime>
#include <QFile>
#include <QString>

/// The log on disk, for the user to attach to a report: one line an entry, the newest file
/// renamed aside once it reaches `limit` bytes, `files` files kept in all. Writing never throws;
/// the first failure turns the file off and says why.
class LogFile {
public:
    static constexpr qint64 defaultLimit = 1024 * 1024;

    explicit LogFile(QString directory, qint64 limit = defaultLimit, int files = 3);

    /// False once a write failed; `failure()` then says what happened.
    bool isWriting() const { return m_failure.isEmpty(); }
    const QString& failure() const { return m_failure; }
    const QString& directory() const { return m_directory; }
    QString path() const;

    void write(const QDateTime& date, bool isError, const QString& text);
    /// Every kept file, oldest first, as one; empty when there is none.
    QByteArray contents() const;

    /// "2025-03-04T14:03:05.120+03:00 ERROR text", line breaks of the text escaped.
    static QByteArray line(const QDateTime& date, bool isError, const QString& text);

private:
    QString pathOf(int index) const;
    bool open();
    void rotate();

    QString m_directory;
    qint64 m_limit;
    int m_files;
    QFile m_file;
    QString m_failure;
};
