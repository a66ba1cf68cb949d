#include "ui/EmptyState.h"

#include "ui/Icons.h"
#include "ui/RowPaint.h"

#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>
#include <QWidget>

namespace EmptyState {

namespace {
constexpr int maxDetailWidth = 460;
} // namespace

QWidget* make(const QString& symbol, const QString& headline, const QString& detail, QWidget* parent)
{
    auto* page = new QWidget(parent);
    auto* layout = new QVBoxLayout(page);
    layout->setSpacing(8);
    layout->setContentsMargins(40, 20, 40, 20);
    layout->addStretch();
    auto* picture = new QLabel(page);
    picture->setObjectName(QStringLiteral("emptySymbol"));
    picture->setPixmap(Icons::pixmap(symbol, 40, RowPaint::tertiary(page->palette()), page->devicePixelRatioF()));
    layout->addWidget(picture, 0, Qt::AlignHCenter);
    auto* title = new QLabel(headline, page);
    title->setObjectName(QStringLiteral("emptyHeadline"));
    title->setFont(RowPaint::font(1.1, QFont::DemiBold));
    title->setAlignment(Qt::AlignCenter);
    layout->addWidget(title, 0, Qt::AlignHCenter);
    if (!detail.isEmpty()) {
        auto* text = new QLabel(detail, page);
        text->setObjectName(QStringLiteral("emptyDetail"));
        text->setAlignment(Qt::AlignCenter);
        text->setWordWrap(true);
        text->setFont(RowPaint::font(0.95));
        QPalette palette = text->palette();
        palette.setColor(QPalette::WindowText, RowPaint::secondary(palette));
        text->setPalette(palette);
        // As wide as its longest line allows, and centred between stretches rather than by
        // alignment: an aligned label is asked its height for the whole column's width and then
        // loses the lines it wraps onto.
        const int natural = QFontMetrics(text->font()).boundingRect(QRect(0, 0, 100000, 100000), 0, detail).width();
        text->setMinimumWidth(qMin(natural + 2, maxDetailWidth));
        text->setMaximumWidth(maxDetailWidth);
        auto* row = new QHBoxLayout;
        row->addStretch();
        row->addWidget(text);
        row->addStretch();
        layout->addLayout(row);
    }
    layout->addStretch();
    return page;
}

} // namespace EmptyState
