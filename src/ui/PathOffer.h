#pragma once

#include <QString>

class QWidget;

/// Where no file manager answers: says so, shows where the file or folder is and offers the path
/// to copy, so the user is never left with a click that did nothing.
namespace PathOffer {

void show(const QString& path, QWidget* parent);

} // namespace PathOffer
