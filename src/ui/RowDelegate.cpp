#include "ui/RowDelegate.h"

#include "ui/Icons.h"
#include "ui/RowPaint.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QContextMenuEvent>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyleOptionButton>
#include <QToolTip>

namespace {

constexpr int buttonHeight = 26;
constexpr int rowMargin = 10;

} // namespace

RowDelegate::RowDelegate(QAbstractItemView* view)
    : QStyledItemDelegate(view)
    , m_view(view)
{
    view->setMouseTracking(true);
    view->viewport()->setAttribute(Qt::WA_Hover);
    // The rows have no selection, but they take focus, so the keyboard can reach their actions.
    view->setFocusPolicy(Qt::StrongFocus);
    view->installEventFilter(this);
    view->viewport()->installEventFilter(this);
    m_viewport = view->viewport();
    m_animation.setInterval(50);
    connect(&m_animation, &QTimer::timeout, this, [this] {
        m_phase = (m_phase + 18) % 360;
        m_view->viewport()->update();
    });
}

void RowDelegate::setAnimating(bool animating)
{
    if (animating && !m_animation.isActive())
        m_animation.start();
    else if (!animating)
        m_animation.stop();
}

const QIcon& RowDelegate::menuIcon()
{
    static const QIcon icon = Icons::icon(QStringLiteral("ellipsis.circle"));
    return icon;
}

QSize RowDelegate::buttonSize(const QString& text, bool borderless)
{
    if (borderless || text.isEmpty())
        return {buttonHeight, buttonHeight};
    return {QFontMetrics(RowPaint::font(0.95)).horizontalAdvance(text) + 24, buttonHeight};
}

QRect RowDelegate::contentRect(const QRect& rowRect)
{
    return rowRect.adjusted(rowMargin, 0, -rowMargin, 0);
}

void RowDelegate::paintBackground(QPainter* painter, const QStyleOptionViewItem& option) const
{
    // Selection is not a thing in these lists; a faint hover keeps the row under the pointer easy to follow.
    if (option.state & QStyle::State_MouseOver) {
        QColor hover = option.palette.color(QPalette::Text);
        hover.setAlphaF(0.04);
        painter->fillRect(option.rect, hover);
    }
    if (option.state & QStyle::State_HasFocus) {
        QColor focus = option.palette.color(QPalette::Highlight);
        focus.setAlphaF(0.14);
        painter->fillRect(option.rect, focus);
        painter->fillRect(QRect(option.rect.left(), option.rect.top(), 3, option.rect.height()),
                          option.palette.color(QPalette::Highlight));
    }
    QColor line = option.palette.color(QPalette::Text);
    line.setAlphaF(0.08);
    painter->fillRect(
        QRect(option.rect.left() + rowMargin, option.rect.bottom(), option.rect.width() - 2 * rowMargin, 1), line);
}

void RowDelegate::paintControls(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    const QWidget* widget = option.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    for (const Control& control : controls(option.rect, index)) {
        const bool hovered = m_hoverIndex == index && m_hoverID == control.id;
        const bool pressed = hovered && m_pressedIndex == index && m_pressedID == control.id;
        if (control.borderless) {
            if (hovered && control.enabled) {
                painter->save();
                painter->setRenderHint(QPainter::Antialiasing);
                QColor hover = option.palette.color(QPalette::Text);
                hover.setAlphaF(pressed ? 0.16 : 0.08);
                painter->setPen(Qt::NoPen);
                painter->setBrush(hover);
                painter->drawRoundedRect(control.rect, 6, 6);
                painter->restore();
            }
            const int side = 18;
            const QRect iconRect(control.rect.center().x() - side / 2 + 1, control.rect.center().y() - side / 2 + 1,
                                 side, side);
            control.icon.paint(painter, iconRect, Qt::AlignCenter, control.enabled ? QIcon::Normal : QIcon::Disabled);
            continue;
        }
        QStyleOptionButton button;
        button.initFrom(widget);
        button.rect = control.rect;
        button.text = control.text;
        button.icon = control.icon;
        button.iconSize = QSize(14, 14);
        button.fontMetrics = QFontMetrics(RowPaint::font(0.95));
        button.state = QStyle::State_Raised;
        if (control.enabled) {
            button.state |= QStyle::State_Enabled;
        } else {
            button.state &= ~QStyle::State_Enabled;
            button.palette.setCurrentColorGroup(QPalette::Disabled);
        }
        if (hovered && control.enabled)
            button.state |= QStyle::State_MouseOver;
        if (pressed && control.enabled)
            button.state |= QStyle::State_Sunken;
        if (control.prominent && control.enabled) {
            button.palette.setColor(QPalette::Button, option.palette.color(QPalette::Highlight));
            button.palette.setColor(QPalette::ButtonText, option.palette.color(QPalette::HighlightedText));
        }
        painter->save();
        painter->setFont(RowPaint::font(0.95));
        style->drawControl(QStyle::CE_PushButton, &button, painter, widget);
        painter->restore();
    }
}

std::optional<RowDelegate::Control> RowDelegate::controlAt(const QModelIndex& index, const QPoint& pos) const
{
    const QRect rowRect = m_view->visualRect(index);
    for (const Control& control : controls(rowRect, index)) {
        if (control.rect.contains(pos))
            return control;
    }
    return std::nullopt;
}

QRect RowDelegate::controlRect(const QModelIndex& index, const QString& id) const
{
    for (const Control& control : controls(m_view->visualRect(index), index)) {
        if (control.id == id)
            return control.rect;
    }
    return {};
}

bool RowDelegate::editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                              const QModelIndex& index)
{
    switch (event->type()) {
    case QEvent::MouseMove: {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        const std::optional<Control> control = controlAt(index, mouse->position().toPoint());
        const QString id = control ? control->id : QString();
        if (m_hoverIndex != index || m_hoverID != id) {
            m_hoverIndex = index;
            m_hoverID = id;
            m_view->viewport()->update();
        }
        break;
    }
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick: {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        const std::optional<Control> control = controlAt(index, mouse->position().toPoint());
        if (mouse->button() != Qt::LeftButton || !control || !control->enabled)
            break;
        m_pressedIndex = index;
        m_pressedID = control->id;
        m_hoverIndex = index;
        m_hoverID = control->id;
        m_view->viewport()->update(option.rect);
        return true;
    }
    case QEvent::MouseButtonRelease: {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        const std::optional<Control> control = controlAt(index, mouse->position().toPoint());
        const bool hit = control && control->enabled && m_pressedIndex == index && m_pressedID == control->id;
        m_pressedIndex = QPersistentModelIndex();
        m_pressedID.clear();
        m_view->viewport()->update(option.rect);
        if (!hit)
            break;
        const QRect anchor(m_view->viewport()->mapToGlobal(control->rect.topLeft()), control->rect.size());
        Q_EMIT controlClicked(index, control->id, anchor);
        return true;
    }
    default:
        break;
    }
    return QStyledItemDelegate::editorEvent(event, model, option, index);
}

bool RowDelegate::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress && watched == m_view) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const QModelIndex current = m_view->currentIndex();
        const bool menuKey =
            key->key() == Qt::Key_Menu || (key->key() == Qt::Key_F10 && key->modifiers() == Qt::ShiftModifier);
        if (menuKey) {
            openMenu(current, {});
            return true;
        }
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) && current.isValid()) {
            if (const QString id = primaryAction(current); !id.isEmpty()) {
                const QRect rect = controlRect(current, id);
                Q_EMIT controlClicked(current, id, QRect(m_view->viewport()->mapToGlobal(rect.topLeft()), rect.size()));
            }
            // Taken either way: an unhandled Return would reach a default button behind the list.
            return true;
        }
    } else if (event->type() == QEvent::ContextMenu) {
        const auto* request = static_cast<QContextMenuEvent*>(event);
        if (request->reason() == QContextMenuEvent::Mouse && watched == m_viewport)
            openMenu(m_view->indexAt(request->pos()), request->globalPos());
        else
            openMenu(m_view->currentIndex(), {});
        return true;
    }
    // The base class would take the list for an open editor and commit and close it.
    if (watched == m_view || watched == m_viewport)
        return false;
    return QStyledItemDelegate::eventFilter(watched, event);
}

void RowDelegate::openMenu(const QModelIndex& index, const QPoint& globalPos)
{
    // Some platforms send both the Menu key and a context-menu event for it; one menu is enough.
    if (!index.isValid() || QApplication::activePopupWidget())
        return;
    const QString id = menuAction();
    std::optional<Control> menu;
    for (const Control& control : controls(m_view->visualRect(index), index)) {
        if (control.id == id)
            menu = control;
    }
    if (!menu || !menu->enabled)
        return;
    m_view->setCurrentIndex(index);
    // From the keyboard the menu drops from the row's "⋯"; from the mouse it opens where clicked.
    const QRect anchor = globalPos.isNull()
                             ? QRect(m_view->viewport()->mapToGlobal(menu->rect.topLeft()), menu->rect.size())
                             : QRect(globalPos, QSize(1, 1));
    Q_EMIT controlClicked(index, id, anchor);
}

bool RowDelegate::helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                            const QModelIndex& index)
{
    if (event->type() == QEvent::ToolTip) {
        const std::optional<Control> control = controlAt(index, event->pos());
        if (control && !control->toolTip.isEmpty()) {
            QToolTip::showText(event->globalPos(), control->toolTip, view, control->rect);
            return true;
        }
    }
    return QStyledItemDelegate::helpEvent(event, view, option, index);
}
