#pragma once

#include "ui/RowDelegate.h"

/// A phone app's row: its initial, name, bundle id, version and App ID (or a badge saying it is
/// unknown), what is happening to it, and, when the App ID is known, its download button and menu.
class DeviceAppRowDelegate : public RowDelegate {
    Q_OBJECT
public:
    static inline const QString downloadControl = QStringLiteral("download");
    static inline const QString menuControl = QStringLiteral("menu");
    static inline const QString cancelControl = QStringLiteral("cancel");

    using RowDelegate::RowDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QList<Control> controls(const QRect& rowRect, const QModelIndex& index) const override;
    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override;

private:
    struct Layout {
        QRect icon;
        QRect text;
        QRect status; // where the activity may draw, right-aligned inside
    };
    Layout layout(const QRect& rowRect, const QModelIndex& index) const;
};
