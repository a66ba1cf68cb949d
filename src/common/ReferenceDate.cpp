#include "common/ReferenceDate.h"

#include <QTimeZone>

#include <cmath>

namespace ReferenceDate {
namespace {
// Millisecond arithmetic stays exact and clear of overflow well inside this bound (±300,000 years).
constexpr double maxSeconds = 1e13;
} // namespace

QDateTime epoch()
{
    return QDateTime(QDate(2001, 1, 1), QTime(0, 0), QTimeZone::utc());
}

double toSeconds(const QDateTime& date)
{
    return static_cast<double>(date.toMSecsSinceEpoch() - epoch().toMSecsSinceEpoch()) / 1000.0;
}

std::optional<QDateTime> fromSeconds(double seconds)
{
    if (!std::isfinite(seconds) || std::fabs(seconds) > maxSeconds)
        return std::nullopt;
    const auto msecs = static_cast<qint64>(std::llround(seconds * 1000.0));
    return QDateTime::fromMSecsSinceEpoch(epoch().toMSecsSinceEpoch() + msecs, QTimeZone::utc());
}

} // namespace ReferenceDate
