#pragma once

#include <QIcon>
#include <QList>
#include <QPersistentModelIndex>
#include <QRect>
#include <QStyledItemDelegate>
#include <QTimer>

class QAbstractItemView;

/// A list row with buttons drawn into it: the row's own painting comes from the subclass, the
/// buttons' painting, pressing, hovering and tooltips from here. No widget per row, so a list of
/// ten thousand stays cheap.
class RowDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    struct Control {
        QString id;
        QRect rect;
        QString text;
        QIcon icon;
        QString toolTip;
        bool enabled = true;
        bool prominent = false;
        bool borderless = false; // an icon that opens a menu
    };

    explicit RowDelegate(QAbstractItemView* view);

    /// Repaints the view a few times a second while some row shows a spinner.
    void setAnimating(bool animating);
    int phase() const { return m_phase; }

    bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                     const QModelIndex& index) override;
    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override;

    /// The controls of the row at `index` laid out in `rowRect`, right to left from its right edge.
    virtual QList<Control> controls(const QRect& rowRect, const QModelIndex& index) const = 0;
    /// Where a control of that row is, in view coordinates (tests press them there).
    QRect controlRect(const QModelIndex& index, const QString& id) const;
    /// What Enter does on the row: a control's id (drawn or not), or nothing when the row has no
    /// action it can take now.
    virtual QString primaryAction(const QModelIndex& index) const = 0;
    /// The id of the row's "⋯" control, which the Menu key and a right-click open as well.
    virtual QString menuAction() const { return QStringLiteral("menu"); }

    bool eventFilter(QObject* watched, QEvent* event) override;

    /// The row menu's picture, made once: rows ask for their controls on every paint.
    static const QIcon& menuIcon();
    /// A small button's size for `text` (or an icon alone when empty).
    static QSize buttonSize(const QString& text, bool borderless);

Q_SIGNALS:
    /// `anchor` is the control's rectangle in global coordinates, for a menu to open under it.
    void controlClicked(const QModelIndex& index, const QString& id, const QRect& anchor);

protected:
    void paintControls(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const;
    /// The row's area inside its margins.
    static QRect contentRect(const QStyleOptionViewItem& option) { return contentRect(option.rect); }
    static QRect contentRect(const QRect& rowRect);
    void paintBackground(QPainter* painter, const QStyleOptionViewItem& option) const;

    QAbstractItemView* m_view;
    // Compared only: the filter sees the list's last events while it is half destroyed.
    const QObject* m_viewport = nullptr;

private:
    void openMenu(const QModelIndex& index, const QPoint& globalPos);
    std::optional<Control> controlAt(const QModelIndex& index, const QPoint& pos) const;

    QTimer m_animation;
    int m_phase = 0;
    QPersistentModelIndex m_pressedIndex;
    QString m_pressedID;
    QPersistentModelIndex m_hoverIndex;
    QString m_hoverID;
};
