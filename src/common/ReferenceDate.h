#pragma once

#include <QDateTime>

#include <optional>

/// Dates in the cache files: seconds, with fraction, since 2001-01-01 00:00:00 UTC.
namespace ReferenceDate {

QDateTime epoch();
double toSeconds(const QDateTime& date);
/// Absent for NaN, infinities and values far outside any real date, which a hand-edited file may hold.
std::optional<QDateTime> fromSeconds(double seconds);

} // namespace ReferenceDate
