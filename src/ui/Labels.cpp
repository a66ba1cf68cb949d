#include "ui/Labels.h"

#include "ui/RowPaint.h"

#include <QLabel>

namespace Labels {

QFont titleFont()
{
    return RowPaint::font(1.7, QFont::DemiBold);
}

QFont headlineFont()
{
    return RowPaint::font(1.1, QFont::DemiBold);
}

QFont calloutFont()
{
    return RowPaint::font(0.95);
}

QLabel* create(const QString& text, const QFont& font, const QColor& colour, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setFont(font);
    label->setTextFormat(Qt::PlainText);
    if (colour.isValid())
        setColour(label, colour);
    return label;
}

QLabel* wrapping(const QString& text, const QFont& font, const QColor& colour, QWidget* parent)
{
    QLabel* label = create(text, font, colour, parent);
    label->setWordWrap(true);
    return label;
}

void setColour(QLabel* label, const QColor& colour)
{
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colour);
    label->setPalette(palette);
}

} // namespace Labels
