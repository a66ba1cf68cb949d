#pragma once

#include <QString>

/// The Russian form of a word for a count: 1 приложение, 2 приложения, 5 приложений.
namespace RussianPlural {

inline QString pick(qint64 count, const QString& one, const QString& few, const QString& many)
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

inline QString apps(qint64 count)
{
    return QString::number(count) + QLatin1Char(' ')
           + pick(count, QStringLiteral("приложение"), QStringLiteral("приложения"), QStringLiteral("приложений"));
}

} // namespace RussianPlural
