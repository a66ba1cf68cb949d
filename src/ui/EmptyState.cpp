#include "ui/EmptyState.h"

#include "ui/Icons.h"
#include "ui/RowPaint.h"

#include <QLabel>
#include <QVBoxLayout>
#include <QWidget>

namespace EmptyState {

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
        layout->addWidget(text, 0, Qt::AlignHCenter);
    }
    layout->addStretch();
    return page;
}

} // namespace EmptyState
