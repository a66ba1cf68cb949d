#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QString>

/// The interface's pictures, named by the symbol names the views use ("arrow.clockwise", …) and
/// drawn from the bundled SVG set. The one place that knows which file draws which symbol.
namespace Icons {

/// Monochrome, in the palette's text colours unless `tint` is given.
QIcon icon(const QString& symbol, const QColor& tint = {});
/// Rendered at `side` device-independent pixels for the current screen's scale.
QPixmap pixmap(const QString& symbol, int side, const QColor& tint, qreal devicePixelRatio = 1.0);
/// Every symbol the set can draw.
QStringList symbols();

} // namespace Icons
