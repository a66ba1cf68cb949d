#pragma once

#include "archive/IpaInspector.h"
#include "ui/RowDelegate.h"

#include <functional>
#include <optional>

/// A downloaded file's row: its name, size and date, the install button and the row menu.
class FileRowDelegate : public RowDelegate {
    Q_OBJECT
public:
    static inline const QString installControl = QStringLiteral("install");
    static inline const QString menuControl = QStringLiteral("menu");

    /// `canInstall` says whether a phone is there to install onto; asked at every paint and click.
    FileRowDelegate(QAbstractItemView* view, std::function<bool()> canInstall);
    /// Where the row learns what its file says about itself; asked at every paint.
    void setInfo(std::function<std::optional<IpaInfo>(const QString& path)> info) { m_info = std::move(info); }

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QList<Control> controls(const QRect& rowRect, const QModelIndex& index) const override;
    QString primaryAction(const QModelIndex& index) const override;

    /// "12,5 МБ · 3 янв. 2025, 14:05".
    static QString details(qint64 size, const QDateTime& created);
    /// What the file's own Info.plist adds: "вер. 2.1 (210) · iOS ≥ 15.0".
    static QString bundleDetails(const IpaInfo& info);

private:
    std::function<bool()> m_canInstall;
    std::function<std::optional<IpaInfo>(const QString&)> m_info;
};
