#include "ui/RowPaint.h"

#include "common/RussianText.h"
#include "ui/Icons.h"

#include <QApplication>
#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>
#include <iterator>

namespace {

constexpr int statusIcon = 14;
constexpr int statusGap = 6;
constexpr int spinnerSide = 16;

// Until the first bytes arrive the row keeps its spinner and "Скачиваю…".
std::optional<double> shownFraction(const AppActivity& activity)
{
    return activity.bytes >= 1 ? activity.fraction() : std::nullopt;
}

QString statusText(const AppActivity& activity)
{
    switch (activity.kind) {
    case AppActivity::Kind::downloading:
        if (shownFraction(activity))
            return RowPaint::downloadProgress(activity.bytes, activity.total);
        return activity.bytes < 1 ? QStringLiteral("Скачиваю…") : RowPaint::fileSize(activity.bytes);
    case AppActivity::Kind::installing:
    case AppActivity::Kind::done:
    case AppActivity::Kind::failed:
        return activity.text;
    case AppActivity::Kind::queued:
        return QStringLiteral("В очереди");
    case AppActivity::Kind::idle:
    case AppActivity::Kind::fetchingVersions:
        return {};
    }
    return {};
}

} // namespace

namespace RowPaint {

QFont font(qreal scale, QFont::Weight weight)
{
    QFont result = QApplication::font();
    const qreal size = result.pointSizeF() > 0 ? result.pointSizeF() : 10;
    result.setPointSizeF(size * scale);
    result.setWeight(weight);
    return result;
}

QFont bodyFont()
{
    return font(1.0);
}

QFont mediumFont()
{
    return font(1.0, QFont::Medium);
}

QFont captionFont()
{
    return font(0.9);
}

QFont caption2Font()
{
    return font(0.82, QFont::Medium);
}

QColor secondary(const QPalette& palette)
{
    QColor color = palette.color(QPalette::Text);
    color.setAlphaF(0.62);
    return color;
}

QColor tertiary(const QPalette& palette)
{
    QColor color = palette.color(QPalette::Text);
    color.setAlphaF(0.4);
    return color;
}

QColor green()
{
    return QColor(0x28, 0xa7, 0x45);
}

QColor orange()
{
    return QColor(0xe6, 0x7e, 0x00);
}

QColor red()
{
    return QColor(0xd7, 0x2c, 0x20);
}

void initialSquare(QPainter* painter, const QRect& rect, const QString& name, const QPalette& palette)
{
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    QColor fill = palette.color(QPalette::Text);
    fill.setAlphaF(0.14 * 0.62);
    painter->setPen(Qt::NoPen);
    painter->setBrush(fill);
    painter->drawRoundedRect(rect, 9, 9);
    QFont letterFont = font(1.15, QFont::DemiBold);
    painter->setFont(letterFont);
    painter->setPen(secondary(palette));
    painter->drawText(rect, Qt::AlignCenter, name.left(1).toUpper());
    painter->restore();
}

void roundedImage(QPainter* painter, const QRect& rect, const QImage& image)
{
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setRenderHint(QPainter::SmoothPixmapTransform);
    QPainterPath clip;
    clip.addRoundedRect(QRectF(rect), 9, 9);
    painter->setClipPath(clip);
    painter->drawImage(rect, image);
    painter->restore();
}

int badgeWidth(const QString& text)
{
    return QFontMetrics(caption2Font()).horizontalAdvance(text) + 12;
}

int badge(QPainter* painter, int x, int centreY, const QString& text, const QColor& textColor, const QColor& fill)
{
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    const QFont badgeFont = caption2Font();
    const QFontMetrics metrics(badgeFont);
    const int height = metrics.height() + 4;
    const QRect rect(x, centreY - height / 2, badgeWidth(text), height);
    painter->setPen(Qt::NoPen);
    painter->setBrush(fill);
    painter->drawRoundedRect(rect, height / 2.0, height / 2.0);
    painter->setFont(badgeFont);
    painter->setPen(textColor);
    painter->drawText(rect, Qt::AlignCenter, text);
    painter->restore();
    return rect.width();
}

namespace {

/// A faint full ring with an arc of `color` over it; angles in sixteenths of a degree.
void ring(QPainter* painter, const QRect& rect, qreal width, const QColor& color, int start, int span,
          Qt::PenCapStyle cap)
{
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    const QRectF circle = QRectF(rect).adjusted(1.5, 1.5, -1.5, -1.5);
    QColor track = color;
    track.setAlphaF(0.18);
    painter->setPen(QPen(track, width));
    painter->drawEllipse(circle);
    painter->setPen(QPen(color, width, Qt::SolidLine, cap));
    painter->drawArc(circle, start, span);
    painter->restore();
}

} // namespace

void spinner(QPainter* painter, const QRect& rect, int phase, const QColor& color)
{
    ring(painter, rect, 2, color, -(phase % 360) * 16, 100 * 16, Qt::RoundCap);
}

void ringProgress(QPainter* painter, const QRect& rect, double fraction, const QColor& color)
{
    ring(painter, rect, 2.5, color, 90 * 16, -qRound(qBound(0.0, fraction, 1.0) * 360 * 16), Qt::FlatCap);
}

bool isBusy(const AppActivity& activity)
{
    return activity.kind == AppActivity::Kind::downloading || activity.kind == AppActivity::Kind::installing
           || activity.kind == AppActivity::Kind::fetchingVersions;
}

QString fileSize(qint64 bytes)
{
    return RussianText::size(bytes);
}

QString downloadProgress(qint64 bytes, qint64 total)
{
    const QLocale locale = RussianText::locale();
    static const char* const units[] = {"Б", "КБ", "МБ", "ГБ", "ТБ"};
    int power = 0;
    double scale = 1;
    while (power + 1 < int(std::size(units)) && double(total) >= scale * 1024) {
        scale *= 1024;
        ++power;
    }
    // One decimal at most, none where it would be zero: "87 МБ", "12,4 МБ".
    const auto amount = [&](qint64 value) {
        return locale.toString(std::round(double(value) / scale * 10) / 10, 'f', QLocale::FloatingPointShortest);
    };
    const qint64 percent = total > 0 ? std::clamp<qint64>(bytes * 100 / total, 0, 100) : 0;
    return amount(bytes) + QStringLiteral(" из ") + amount(total) + QLatin1Char(' ') + QString::fromUtf8(units[power])
           + QStringLiteral(" · ") + locale.toString(percent) + QStringLiteral(" %");
}

int activityWidth(const AppActivity& activity, int maxWidth)
{
    if (activity.kind == AppActivity::Kind::idle)
        return 0;
    if (activity.kind == AppActivity::Kind::fetchingVersions)
        return spinnerSide;
    // Two pixels of slack: elidedText cuts a text given exactly its own rounded advance.
    const int text = QFontMetrics(captionFont()).horizontalAdvance(statusText(activity)) + 2;
    const bool bareBytes =
        activity.kind == AppActivity::Kind::downloading && activity.bytes >= 1 && !shownFraction(activity);
    const int lead = bareBytes ? 0 : spinnerSide;
    return qMin(maxWidth, lead + statusGap + text);
}

int activity(QPainter* painter, const QRect& area, const AppActivity& activity, const QPalette& palette, int phase)
{
    const int width = activityWidth(activity, area.width());
    if (width == 0)
        return 0;
    painter->save();
    const int centreY = area.center().y();
    const QRect lead(area.right() - width + 1, centreY - spinnerSide / 2, spinnerSide, spinnerSide);
    QRect textRect(lead.right() + statusGap, area.top(), area.right() - lead.right() - statusGap, area.height());
    QColor textColor = secondary(palette);
    switch (activity.kind) {
    case AppActivity::Kind::fetchingVersions:
        spinner(painter, lead, phase, secondary(palette));
        break;
    case AppActivity::Kind::downloading:
        if (const std::optional<double> fraction = shownFraction(activity))
            ringProgress(painter, lead, *fraction, palette.color(QPalette::Highlight));
        else if (activity.bytes < 1)
            spinner(painter, lead, phase, secondary(palette));
        else
            textRect.setLeft(area.right() - width + 1);
        break;
    case AppActivity::Kind::installing:
        ringProgress(painter, lead, activity.progress, palette.color(QPalette::Highlight));
        break;
    case AppActivity::Kind::done:
    case AppActivity::Kind::failed: {
        const bool done = activity.kind == AppActivity::Kind::done;
        textColor = done ? green() : orange();
        const QRect icon(lead.left() + 1, centreY - statusIcon / 2, statusIcon, statusIcon);
        painter->drawPixmap(icon, Icons::pixmap(done ? QStringLiteral("checkmark.circle.fill")
                                                     : QStringLiteral("exclamationmark.triangle.fill"),
                                                statusIcon, textColor, painter->device()->devicePixelRatioF()));
        break;
    }
    case AppActivity::Kind::queued: {
        const QRect icon(lead.left() + 1, centreY - statusIcon / 2, statusIcon, statusIcon);
        painter->drawPixmap(icon, Icons::pixmap(QStringLiteral("clock.arrow.circlepath"), statusIcon, textColor,
                                                painter->device()->devicePixelRatioF()));
        break;
    }
    case AppActivity::Kind::idle:
        break;
    }
    const QFont textFont = captionFont();
    painter->setFont(textFont);
    painter->setPen(textColor);
    const QString text = QFontMetrics(textFont).elidedText(statusText(activity), Qt::ElideRight, textRect.width());
    painter->drawText(textRect, Qt::AlignVCenter | Qt::AlignLeft, text);
    painter->restore();
    return width;
}

} // namespace RowPaint
