#include "common/RussianText.h"

#include <QDate>
#include <QTime>

namespace RussianText {

QString date(const QDate& date)
{
    return locale().toString(date, QStringLiteral("d MMM yyyy"));
}

QString longDate(const QDate& date)
{
    return locale().toString(date, QStringLiteral("d MMMM yyyy 'г.'"));
}

QString shortDate(const QDate& date)
{
    return locale().toString(date, QLocale::ShortFormat);
}

QString time(const QTime& time)
{
    return locale().toString(time, QLocale::ShortFormat);
}

QString timeWithSeconds(const QTime& time)
{
    return locale().toString(time, QStringLiteral("HH:mm:ss"));
}

QString size(qint64 bytes, QLocale::DataSizeFormats format)
{
    // Qt's Russian byte unit has a single form ("500 байты"): below a kilobyte the count picks it.
    const qint64 unit = format == QLocale::DataSizeSIFormat ? 1000 : 1024;
    if (bytes > -unit && bytes < unit)
        return count(bytes, QStringLiteral("байт"), QStringLiteral("байта"), QStringLiteral("байт"));
    return locale().formattedDataSize(bytes, 1, format);
}

} // namespace RussianText
