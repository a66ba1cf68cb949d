#pragma once

#include <QString>

class QWidget;

/// The centred picture, headline and explanation a view shows when it has nothing to list.
namespace EmptyState {

QWidget* make(const QString& symbol, const QString& headline, const QString& detail, QWidget* parent);

} // namespace EmptyState
