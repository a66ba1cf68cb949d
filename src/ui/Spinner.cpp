#include "ui/Spinner.h"

#include <QPainter>

Spinner::Spinner(QWidget* parent)
    : QWidget(parent)
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    m_timer.setInterval(16);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        m_angle = (m_angle + 6) % 360;
        update();
    });
}

void Spinner::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const int side = qMin(width(), height()) - 6;
    const QRectF circle((width() - side) / 2.0, (height() - side) / 2.0, side, side);
    QColor track = palette().color(QPalette::WindowText);
    track.setAlphaF(0.15);
    painter.setPen(QPen(track, 3));
    painter.drawEllipse(circle);
    painter.setPen(QPen(palette().color(QPalette::WindowText), 3, Qt::SolidLine, Qt::RoundCap));
    painter.drawArc(circle, -m_angle * 16, 100 * 16);
}

void Spinner::showEvent(QShowEvent*)
{
    m_timer.start();
}

void Spinner::hideEvent(QHideEvent*)
{
    m_timer.stop();
}
