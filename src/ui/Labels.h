#pragma once

#include <QColor>
#include <QFont>
#include <QString>

class QLabel;
class QWidget;

/// Text labels of the forms and sheets, in the type scale the list rows use.
namespace Labels {

QFont titleFont();    // the sign-in view's application name
QFont headlineFont(); // a sheet's heading
QFont calloutFont();  // hints and error messages

/// A label in `font`; an invalid `colour` keeps the palette's text colour.
QLabel* create(const QString& text, const QFont& font, const QColor& colour, QWidget* parent);
/// A label that wraps at its width, for texts longer than one line.
QLabel* wrapping(const QString& text, const QFont& font, const QColor& colour, QWidget* parent);
void setColour(QLabel* label, const QColor& colour);

} // namespace Labels
