#pragma once

#include <QCollator>
#include <QList>

#include <algorithm>

/// The order of every list of apps the user reads: by name, locale-aware and case-insensitive.
/// Stable, so names equal under that comparison keep the order they came in.
namespace NameOrder {

QCollator collator();

template <typename Record>
void sort(QList<Record>& records)
{
    const QCollator names = collator();
    std::stable_sort(records.begin(), records.end(),
                     [&](const Record& a, const Record& b) { return names.compare(a.name, b.name) < 0; });
}

} // namespace NameOrder
