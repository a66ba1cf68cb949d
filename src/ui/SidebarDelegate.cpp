#include "ui/SidebarDelegate.h"

#include "common/RussianText.h"
#include "ui/Icons.h"
#include "ui/RowPaint.h"
#include "ui/SidebarListModel.h"

#include <QPainter>

void SidebarDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    const QPalette& palette = option.palette;
    const QRect rect = option.rect.adjusted(8, 1, -8, -1);
    if (index.data(SidebarListModel::IsHeaderRole).toBool()) {
        painter->setFont(RowPaint::font(0.85, QFont::DemiBold));
        painter->setPen(RowPaint::tertiary(palette));
        painter->drawText(rect.adjusted(6, 0, 0, -2), Qt::AlignLeft | Qt::AlignBottom, index.data().toString());
        painter->restore();
        return;
    }
    const bool selected = option.state & QStyle::State_Selected;
    const bool active = option.state & QStyle::State_Active;
    if (selected) {
        QColor fill = palette.color(QPalette::Highlight);
        if (!active)
            fill.setAlphaF(0.55);
        painter->setPen(Qt::NoPen);
        painter->setBrush(fill);
        painter->drawRoundedRect(rect, 6, 6);
    } else if (option.state & QStyle::State_MouseOver) {
        QColor hover = palette.color(QPalette::Text);
        hover.setAlphaF(0.06);
        painter->setPen(Qt::NoPen);
        painter->setBrush(hover);
        painter->drawRoundedRect(rect, 6, 6);
    }
    const QColor text = selected ? palette.color(QPalette::HighlightedText) : palette.color(QPalette::Text);
    const QColor accent = selected ? text : palette.color(QPalette::Highlight);
    const int iconSide = 18;
    const QRect iconRect(rect.left() + 8, rect.center().y() - iconSide / 2 + 1, iconSide, iconSide);
    painter->drawPixmap(iconRect, Icons::pixmap(index.data(SidebarListModel::SymbolRole).toString(), iconSide, accent,
                                                painter->device()->devicePixelRatioF()));

    int right = rect.right() - 8;
    const int badge = index.data(SidebarListModel::BadgeRole).toInt();
    if (badge > 0) {
        const QString count = RussianText::locale().toString(badge);
        painter->setFont(RowPaint::font(0.85, QFont::Medium));
        const int width = painter->fontMetrics().horizontalAdvance(count);
        QColor countColor = selected ? text : RowPaint::secondary(palette);
        painter->setPen(countColor);
        painter->drawText(QRect(right - width, rect.top(), width, rect.height()), Qt::AlignRight | Qt::AlignVCenter,
                          count);
        right -= width + 8;
    }
    painter->setFont(RowPaint::bodyFont());
    painter->setPen(text);
    const QRect titleRect(iconRect.right() + 9, rect.top(), right - iconRect.right() - 9, rect.height());
    painter->drawText(titleRect, Qt::AlignLeft | Qt::AlignVCenter,
                      painter->fontMetrics().elidedText(index.data().toString(), Qt::ElideRight, titleRect.width()));
    painter->restore();
}

QSize SidebarDelegate::sizeHint(const QStyleOptionViewItem&, const QModelIndex& index) const
{
    return {180, index.data(SidebarListModel::IsHeaderRole).toBool() ? 30 : 32};
}
