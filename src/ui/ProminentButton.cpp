#include "ui/ProminentButton.h"

#include "ui/Spinner.h"

#include <QFontMetrics>
#include <QPainter>
#include <QtMath>

namespace {

constexpr int horizontalPadding = 14;
constexpr int spinnerSide = 18;
constexpr qreal radius = 6;

} // namespace

ProminentButton::ProminentButton(const QString& text, QWidget* parent)
    : QPushButton(text, parent)
    , m_spinner(new Spinner(this))
{
    setAttribute(Qt::WA_Hover);
    m_spinner->resize(spinnerSide, spinnerSide);
    m_spinner->hide();
    // The spinner draws in the window text colour; on the filled button it takes the label's.
    QPalette spinnerPalette = m_spinner->palette();
    spinnerPalette.setColor(QPalette::WindowText, palette().color(QPalette::HighlightedText));
    m_spinner->setPalette(spinnerPalette);
}

void ProminentButton::setBusy(bool busy)
{
    if (m_busy == busy)
        return;
    m_busy = busy;
    m_spinner->setVisible(busy);
    placeSpinner();
    update();
}

QSize ProminentButton::sizeHint() const
{
    // As tall as the style's plain buttons beside it; the text is measured to the pixel above
    // so that eliding never cuts it short.
    const QFontMetricsF metrics(font());
    const int textWidth = qCeil(metrics.horizontalAdvance(text())) + 2;
    return {textWidth + 2 * horizontalPadding, qMax(QPushButton::sizeHint().height(), qCeil(metrics.height()) + 10)};
}

void ProminentButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPalette& colours = palette();
    QColor fill = colours.color(QPalette::Active, QPalette::Highlight);
    QColor label = colours.color(QPalette::Active, QPalette::HighlightedText);
    if (!isEnabled()) {
        fill.setAlphaF(0.4);
        label.setAlphaF(0.85);
    } else if (isDown()) {
        fill = fill.darker(120);
    } else if (underMouse()) {
        fill = fill.lighter(108);
    }
    const QRectF frame = QRectF(rect()).adjusted(1, 1, -1, -1);
    if (hasFocus() && isEnabled()) {
        QColor ring = colours.color(QPalette::Active, QPalette::Highlight);
        ring.setAlphaF(0.45);
        painter.setPen(QPen(ring, 2));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), radius + 1, radius + 1);
    }
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    painter.drawRoundedRect(frame.adjusted(1, 1, -1, -1), radius, radius);
    if (m_busy)
        return;
    painter.setPen(label);
    painter.setFont(font());
    const QRect textRect = rect().adjusted(horizontalPadding, 0, -horizontalPadding, 0);
    painter.drawText(textRect, Qt::AlignCenter,
                     QFontMetrics(font()).elidedText(text(), Qt::ElideRight, textRect.width()));
}

void ProminentButton::resizeEvent(QResizeEvent* event)
{
    QPushButton::resizeEvent(event);
    placeSpinner();
}

void ProminentButton::placeSpinner()
{
    m_spinner->move((width() - spinnerSide) / 2, (height() - spinnerSide) / 2);
}
