#pragma once

#include "ui/RowDelegate.h"

#include <QDateTime>

#include <optional>

class ArtworkCache;
class LibraryListModel;
struct PurchasedApp;

/// One app of the library: icon, name with the "not in the store" badge, subtitle and downloaded
/// mark, the live activity, the install button and the row menu.
class AppRowDelegate : public RowDelegate {
    Q_OBJECT
public:
    AppRowDelegate(QAbstractItemView* view, LibraryListModel* rows, ArtworkCache* artwork);

    static inline const QString installID = QStringLiteral("install");
    static inline const QString menuID = QStringLiteral("menu");
    static inline const QString cancelID = QStringLiteral("cancel");
    /// Download only: Enter's action where no phone is there to install onto.
    static inline const QString downloadID = QStringLiteral("download");
    static constexpr int rowHeight = 54;
    static constexpr int iconSide = 40;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QList<Control> controls(const QRect& rowRect, const QModelIndex& index) const override;
    QString primaryAction(const QModelIndex& index) const override;

    /// "нет в App Store", with the date the app was first seen gone when the store had it before.
    static QString goneBadge(const std::optional<QDateTime>& since);
    /// The line under the name: bundle id, version and purchase date.
    static QString subtitle(const PurchasedApp& app);

private:
    LibraryListModel* m_rows;
    ArtworkCache* m_artwork;
};
