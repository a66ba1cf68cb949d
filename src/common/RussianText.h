#pragma once

#include <QLocale>
#include <QString>

class QDate;
class QTime;

/// Russian words and numbers for what the window shows, whatever the system's locale.
namespace RussianText {

/// The locale every date, time and size the user sees is written in.
inline QLocale locale()
{
    return QLocale(QLocale::Russian, QLocale::Russia);
}

/// The form of a word that goes with a count: 1 приложение, 2 приложения, 5 приложений.
inline QString plural(qint64 count, const QString& one, const QString& few, const QString& many)
{
    const qint64 lastTwo = (count < 0 ? -count : count) % 100;
    const qint64 last = lastTwo % 10;
    if (lastTwo >= 11 && lastTwo <= 14)
        return many;
    if (last == 1)
        return one;
    if (last >= 2 && last <= 4)
        return few;
    return many;
}

/// The count and its word: "1 приложение", "12 345 приложений".
inline QString count(qint64 count, const QString& one, const QString& few, const QString& many)
{
    return locale().toString(count) + QLatin1Char(' ') + plural(count, one, few, many);
}

inline QString apps(qint64 count)
{
    return RussianText::count(count, QStringLiteral("приложение"), QStringLiteral("приложения"),
                              QStringLiteral("приложений"));
}

/// "2 нояб. 2024": the abbreviated date rows, banners and sheets show.
QString date(const QDate& date);
/// "2 ноября 2024 г.": the long date without the weekday.
QString longDate(const QDate& date);
/// "02.11.2024".
QString shortDate(const QDate& date);
/// "09:05".
QString time(const QTime& time);
/// "09:05:07".
QString timeWithSeconds(const QTime& time);
/// "110,7 кБ", "500 байт". Traditional counts in powers of 1024, SI in powers of 1000.
QString size(qint64 bytes, QLocale::DataSizeFormats format = QLocale::DataSizeTraditionalFormat);

} // namespace RussianText
