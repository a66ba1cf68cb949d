#include "ui/FileRowDelegate.h"

#include "ui/FilesListModel.h"
#include "ui/Icons.h"
#include "ui/RowPaint.h"

#include "common/RussianText.h"

#include <QDateTime>
#include <QPainter>

namespace {

constexpr int iconSide = 28;
constexpr int padding = 4;
constexpr int spacing = 12;
constexpr int lineGap = 2;

} // namespace

FileRowDelegate::FileRowDelegate(QAbstractItemView* view, std::function<bool()> canInstall)
    : RowDelegate(view)
    , m_canInstall(std::move(canInstall))
{}

QString FileRowDelegate::details(qint64 size, const QDateTime& created)
{
    return RowPaint::fileSize(size) + QStringLiteral(" · ") + RussianText::date(created.date()) + QStringLiteral(", ")
           + RussianText::time(created.time());
}

QString FileRowDelegate::bundleDetails(const IpaInfo& info)
{
    QStringList parts;
    if (info.shortVersion) {
        QString version = QStringLiteral("вер. ") + *info.shortVersion;
        if (info.build && *info.build != *info.shortVersion)
            version += QStringLiteral(" (") + *info.build + QLatin1Char(')');
        parts << version;
    }
    if (info.minimumOS)
        parts << QStringLiteral("iOS ≥ ") + *info.minimumOS;
    return parts.join(QStringLiteral(" · "));
}

QSize FileRowDelegate::sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const
{
    const int text =
        QFontMetrics(RowPaint::bodyFont()).height() + lineGap + QFontMetrics(RowPaint::captionFont()).height();
    return {320, qMax(text, buttonSize(QStringLiteral("Установить"), false).height()) + 2 * padding + 12};
}

QList<RowDelegate::Control> FileRowDelegate::controls(const QRect& rowRect, const QModelIndex&) const
{
    const QRect content = contentRect(rowRect);
    const QSize menuSize = buttonSize({}, true);
    const QRect menu(content.right() - menuSize.width() + 1, content.center().y() - menuSize.height() / 2 + 1,
                     menuSize.width(), menuSize.height());
    const QString installText = QStringLiteral("Установить");
    const QSize installSize = buttonSize(installText, false);
    const QRect install(menu.left() - 6 - installSize.width(), content.center().y() - installSize.height() / 2 + 1,
                        installSize.width(), installSize.height());
    const bool canInstall = m_canInstall && m_canInstall();
    return {
        Control{installControl,
                install,
                installText,
                {},
                canInstall ? QString() : QStringLiteral("iPhone не подключён"),
                canInstall,
                false,
                false},
        Control{menuControl, menu, {}, menuIcon(), QStringLiteral("Ещё"), true, false, true},
    };
}

QString FileRowDelegate::primaryAction(const QModelIndex&) const
{
    return m_canInstall && m_canInstall() ? installControl : QString();
}

void FileRowDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    painter->save();
    paintBackground(painter, option);
    const QRect content = contentRect(option);
    const QRect icon(content.left(), content.center().y() - iconSide / 2 + 1, iconSide, iconSide);
    const QString path = index.data(FilesListModel::PathRole).toString();
    const std::optional<IpaInfo> info = m_info ? m_info(path) : std::nullopt;
    if (info && !info->icon.isNull())
        RowPaint::roundedImage(painter, icon, info->icon);
    else
        painter->drawPixmap(icon,
                            Icons::pixmap(QStringLiteral("shippingbox.fill"), iconSide,
                                          RowPaint::secondary(option.palette), painter->device()->devicePixelRatioF()));

    int right = content.right();
    for (const Control& control : controls(option.rect, index))
        right = qMin(right, control.rect.left() - spacing);
    const int left = icon.right() + 1 + spacing;
    const int width = right - left + 1;

    const QFontMetrics nameMetrics(RowPaint::bodyFont());
    const QFontMetrics captionMetrics(RowPaint::captionFont());
    int y = content.center().y() + 1 - (nameMetrics.height() + lineGap + captionMetrics.height()) / 2;
    painter->setFont(RowPaint::bodyFont());
    painter->setPen(option.palette.color(QPalette::Text));
    painter->drawText(
        QRect(left, y, width, nameMetrics.height()), Qt::AlignLeft | Qt::AlignVCenter,
        nameMetrics.elidedText(info && info->displayName ? *info->displayName : index.data(Qt::DisplayRole).toString(),
                               Qt::ElideMiddle, width));
    y += nameMetrics.height() + lineGap;
    painter->setFont(RowPaint::captionFont());
    painter->setPen(RowPaint::secondary(option.palette));
    QString line = details(index.data(FilesListModel::SizeRole).toLongLong(),
                           index.data(FilesListModel::CreatedRole).toDateTime());
    if (const QString bundle = info ? bundleDetails(*info) : QString(); !bundle.isEmpty())
        line += QStringLiteral(" · ") + bundle;
    painter->drawText(QRect(left, y, width, captionMetrics.height()), Qt::AlignLeft | Qt::AlignVCenter,
                      captionMetrics.elidedText(line, Qt::ElideRight, width));

    paintControls(painter, option, index);
    painter->restore();
}
