#pragma once

#include "model/AppActivity.h"

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPalette>
#include <QRect>
#include <QString>

class QPainter;

/// Shared drawing for the list rows, so the library, the phone's apps and the files read alike.
namespace RowPaint {

QFont font(qreal scale, QFont::Weight weight = QFont::Normal); // relative to the application font
QFont bodyFont();
QFont mediumFont();
QFont captionFont();
QFont caption2Font();

QColor secondary(const QPalette& palette);
QColor tertiary(const QPalette& palette);
QColor green();
QColor orange();
QColor red();

/// The first letter of `name`, upper-cased, in a rounded grey square: a row's icon when it has none.
void initialSquare(QPainter* painter, const QRect& rect, const QString& name, const QPalette& palette);
/// An app's own icon, scaled into `rect` and clipped to the rows' rounded square.
void roundedImage(QPainter* painter, const QRect& rect, const QImage& image);
/// A capsule with `text`, its left edge at `x`, centred on `centreY`; returns its width.
int badge(QPainter* painter, int x, int centreY, const QString& text, const QColor& textColor, const QColor& fill);
int badgeWidth(const QString& text);

/// An indeterminate arc; `phase` advances it.
void spinner(QPainter* painter, const QRect& rect, int phase, const QColor& color);
/// A ring filled to `fraction`.
void ringProgress(QPainter* painter, const QRect& rect, double fraction, const QColor& color);

/// What a row shows for its app's activity, right-aligned in `area` and vertically centred.
/// Returns the width it took (0 for idle). `fileSize` formats downloaded bytes.
int activity(QPainter* painter, const QRect& area, const AppActivity& activity, const QPalette& palette, int phase);
int activityWidth(const AppActivity& activity, int maxWidth);
bool isBusy(const AppActivity& activity);
/// Bytes as file sizes are written in Russian.
QString fileSize(qint64 bytes);
/// "12,4 из 87 МБ · 14 %": both amounts in the unit of the whole.
QString downloadProgress(qint64 bytes, qint64 total);

} // namespace RowPaint
