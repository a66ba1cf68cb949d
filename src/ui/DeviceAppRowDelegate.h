#pragma once

#include "ui/RowDelegate.h"

#include <functional>

/// A phone app's row: its initial, name, bundle id, version and App ID (or a badge saying it is
/// unknown), what is happening to it, and, when the App ID is known, its download button and menu.
class DeviceAppRowDelegate : public RowDelegate {
    Q_OBJECT
public:
    static inline const QString downloadControl = QStringLiteral("download");
    static inline const QString menuControl = QStringLiteral("menu");
    static inline const QString cancelControl = QStringLiteral("cancel");
    /// Download and install, the menu's first item: Enter's action while a phone is there.
    static inline const QString installControl = QStringLiteral("install");

    using RowDelegate::RowDelegate;
    /// Whether a phone is there to install onto; asked when Enter is pressed.
    void setCanInstall(std::function<bool()> canInstall) { m_canInstall = std::move(canInstall); }
    /// The library's icon for a bundle id, or nothing (yet); asked at every paint.
    using IconLookup = std::function<const QPixmap*(const QString& bundleID, int side, qreal ratio)>;
    void setLibraryIcon(IconLookup lookup) { m_libraryIcon = std::move(lookup); }

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QList<Control> controls(const QRect& rowRect, const QModelIndex& index) const override;
    QString primaryAction(const QModelIndex& index) const override;
    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override;

private:
    struct Layout {
        QRect icon;
        QRect text;
        QRect status; // where the activity may draw, right-aligned inside
    };
    Layout layout(const QRect& rowRect, const QModelIndex& index) const;

    std::function<bool()> m_canInstall;
    IconLookup m_libraryIcon;
};
