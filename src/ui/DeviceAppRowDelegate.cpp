#include "ui/DeviceAppRowDelegate.h"

#include "ui/DeviceAppsListModel.h"
#include "ui/Icons.h"
#include "ui/RowPaint.h"

#include <QAbstractItemView>
#include <QHelpEvent>
#include <QPainter>
#include <QToolTip>

namespace {

constexpr int iconSide = 34;
constexpr int padding = 6;
constexpr int spacing = 12;
constexpr int lineGap = 2;
constexpr int maxStatusWidth = 240;

const QString unknownAppID = QStringLiteral("App ID неизвестен");
const QString unsaved = QStringLiteral("не сохранено");

int thirdLineHeight()
{
    return qMax(QFontMetrics(RowPaint::captionFont()).height(), QFontMetrics(RowPaint::caption2Font()).height() + 4);
}

AppActivity activityOf(const QModelIndex& index)
{
    return index.data(DeviceAppsListModel::ActivityRole).value<AppActivity>();
}

} // namespace

QSize DeviceAppRowDelegate::sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const
{
    const int text = QFontMetrics(RowPaint::mediumFont()).height() + lineGap
                     + QFontMetrics(RowPaint::captionFont()).height() + lineGap + thirdLineHeight();
    return {320, qMax(iconSide, text) + 2 * padding};
}

QList<RowDelegate::Control> DeviceAppRowDelegate::controls(const QRect& rowRect, const QModelIndex& index) const
{
    if (!index.data(DeviceAppsListModel::AppIDRole).isValid())
        return {};
    const bool enabled = !index.data(DeviceAppsListModel::BusyRole).toBool();
    const QRect content = contentRect(rowRect);

    const QSize menuSize = buttonSize({}, true);
    const QRect menu(content.right() - menuSize.width() + 1, content.center().y() - menuSize.height() / 2 + 1,
                     menuSize.width(), menuSize.height());
    const auto activity = index.data(DeviceAppsListModel::ActivityRole).value<AppActivity>();
    const bool cancellable =
        activity.kind == AppActivity::Kind::downloading || activity.kind == AppActivity::Kind::installing;
    const QString downloadText = cancellable ? QStringLiteral("Отменить") : QStringLiteral("Скачать IPA");
    const QSize downloadSize = buttonSize(downloadText, false);
    const QRect download(menu.left() - 6 - downloadSize.width(), content.center().y() - downloadSize.height() / 2 + 1,
                         downloadSize.width(), downloadSize.height());
    return {
        Control{cancellable ? cancelControl : downloadControl,
                download,
                downloadText,
                {},
                {},
                enabled || cancellable,
                false,
                false},
        Control{menuControl, menu, {}, menuIcon(), QStringLiteral("Ещё"), enabled, false, true},
    };
}

QString DeviceAppRowDelegate::primaryAction(const QModelIndex& index) const
{
    if (!index.data(DeviceAppsListModel::AppIDRole).isValid() || index.data(DeviceAppsListModel::BusyRole).toBool())
        return {};
    return m_canInstall && m_canInstall() ? installControl : downloadControl;
}

DeviceAppRowDelegate::Layout DeviceAppRowDelegate::layout(const QRect& rowRect, const QModelIndex& index) const
{
    const QRect content = contentRect(rowRect);
    Layout result;
    result.icon = QRect(content.left(), content.center().y() - iconSide / 2 + 1, iconSide, iconSide);
    int right = content.right();
    for (const Control& control : controls(rowRect, index))
        right = qMin(right, control.rect.left() - spacing);
    const int textLeft = result.icon.right() + 1 + spacing;
    const int statusWidth = qMin(maxStatusWidth, (right - textLeft) / 2);
    result.status = QRect(right - statusWidth + 1, content.top(), statusWidth, content.height());
    const int used = RowPaint::activityWidth(activityOf(index), statusWidth);
    const int textRight = used > 0 ? right - used - spacing : right;
    result.text = QRect(textLeft, content.top() + padding, textRight - textLeft + 1, content.height() - 2 * padding);
    return result;
}

void DeviceAppRowDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    painter->save();
    paintBackground(painter, option);
    const Layout parts = layout(option.rect, index);
    const QString name = index.data(Qt::DisplayRole).toString();
    const QPixmap* libraryIcon = m_libraryIcon
                                     ? m_libraryIcon(index.data(DeviceAppsListModel::BundleIDRole).toString(),
                                                     parts.icon.width(), painter->device()->devicePixelRatioF())
                                     : nullptr;
    const QImage fileIcon = libraryIcon ? QImage() : index.data(DeviceAppsListModel::FileIconRole).value<QImage>();
    if (libraryIcon)
        painter->drawPixmap(parts.icon, *libraryIcon);
    else if (!fileIcon.isNull())
        RowPaint::roundedImage(painter, parts.icon, fileIcon);
    else
        RowPaint::initialSquare(painter, parts.icon, name, option.palette);

    const QFontMetrics nameMetrics(RowPaint::mediumFont());
    const QFontMetrics captionMetrics(RowPaint::captionFont());
    const int block = nameMetrics.height() + lineGap + captionMetrics.height() + lineGap + thirdLineHeight();
    int y = parts.text.top() + (parts.text.height() - block) / 2;
    const int width = parts.text.width();

    const bool atRisk = index.data(DeviceAppsListModel::AtRiskRole).toBool();
    const int riskSpace = atRisk ? RowPaint::badgeWidth(unsaved) + 6 : 0;
    const QString shownName = nameMetrics.elidedText(name, Qt::ElideRight, qMax(0, width - riskSpace));
    painter->setFont(RowPaint::mediumFont());
    painter->setPen(option.palette.color(QPalette::Text));
    painter->drawText(QRect(parts.text.left(), y, width, nameMetrics.height()), Qt::AlignLeft | Qt::AlignVCenter,
                      shownName);
    if (atRisk) {
        QColor fill = RowPaint::orange();
        fill.setAlphaF(0.18);
        RowPaint::badge(painter, parts.text.left() + nameMetrics.horizontalAdvance(shownName) + 6,
                        y + nameMetrics.height() / 2, unsaved, RowPaint::orange(), fill);
    }
    y += nameMetrics.height() + lineGap;

    painter->setFont(RowPaint::captionFont());
    painter->setPen(RowPaint::secondary(option.palette));
    painter->drawText(
        QRect(parts.text.left(), y, width, captionMetrics.height()), Qt::AlignLeft | Qt::AlignVCenter,
        captionMetrics.elidedText(index.data(DeviceAppsListModel::BundleIDRole).toString(), Qt::ElideMiddle, width));
    y += captionMetrics.height() + lineGap;

    // Version and App ID share the third line, so every row keeps one height.
    const QRect third(parts.text.left(), y, width, thirdLineHeight());
    int x = third.left();
    const QString version = index.data(DeviceAppsListModel::VersionRole).toString();
    if (!version.isEmpty()) {
        const QString text = captionMetrics.elidedText(QStringLiteral("вер. ") + version, Qt::ElideRight, width / 2);
        painter->drawText(QRect(x, third.top(), width, third.height()), Qt::AlignLeft | Qt::AlignVCenter, text);
        x += captionMetrics.horizontalAdvance(text) + 10;
    }
    const QVariant appID = index.data(DeviceAppsListModel::AppIDRole);
    if (appID.isValid()) {
        painter->setPen(RowPaint::tertiary(option.palette));
        painter->drawText(QRect(x, third.top(), third.right() - x + 1, third.height()),
                          Qt::AlignLeft | Qt::AlignVCenter,
                          captionMetrics.elidedText(QStringLiteral("id ") + QString::number(appID.toLongLong()),
                                                    Qt::ElideRight, third.right() - x + 1));
    } else if (x + RowPaint::badgeWidth(unknownAppID) <= third.right() + 1) {
        QColor fill = RowPaint::orange();
        fill.setAlphaF(0.18);
        RowPaint::badge(painter, x, third.center().y() + 1, unknownAppID, RowPaint::orange(), fill);
    }

    RowPaint::activity(painter, parts.status, activityOf(index), option.palette, phase());
    paintControls(painter, option, index);
    painter->restore();
}

bool DeviceAppRowDelegate::helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                                     const QModelIndex& index)
{
    if (event->type() == QEvent::ToolTip && index.isValid()) {
        const AppActivity activity = activityOf(index);
        const QRect status = layout(option.rect, index).status;
        const int used = RowPaint::activityWidth(activity, status.width());
        const QRect shown(status.right() - used + 1, status.top(), used, status.height());
        if (activity.isFinal() && shown.contains(event->pos())) {
            QToolTip::showText(event->globalPos(), activity.text, view, shown);
            return true;
        }
    }
    return RowDelegate::helpEvent(event, view, option, index);
}
