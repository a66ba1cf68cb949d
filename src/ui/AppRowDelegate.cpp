#include "ui/AppRowDelegate.h"

#include "common/RussianText.h"
#include "model/AppModel.h"
#include "ui/ArtworkCache.h"
#include "ui/Icons.h"
#include "ui/LibraryListModel.h"
#include "ui/RowPaint.h"

#include <QAbstractItemView>
#include <QPainter>

namespace {

constexpr int spacing = 12;
constexpr int statusMaxWidth = 220;

} // namespace

AppRowDelegate::AppRowDelegate(QAbstractItemView* view, LibraryListModel* rows, ArtworkCache* artwork)
    : RowDelegate(view)
    , m_rows(rows)
    , m_artwork(artwork)
{}

QString AppRowDelegate::goneBadge(const std::optional<QDateTime>& since)
{
    if (!since)
        return QStringLiteral("нет в App Store");
    return QStringLiteral("нет в App Store с ") + RussianText::shortDate(since->toLocalTime().date());
}

QString AppRowDelegate::subtitle(const PurchasedApp& app)
{
    QStringList parts{app.bundleID};
    if (!app.version.isEmpty())
        parts << QStringLiteral("вер. ") + app.version;
    if (app.purchaseDate)
        parts << RussianText::shortDate(app.purchaseDate->toLocalTime().date());
    return parts.join(QStringLiteral(" · "));
}

QSize AppRowDelegate::sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const
{
    return {400, rowHeight};
}

QList<RowDelegate::Control> AppRowDelegate::controls(const QRect& rowRect, const QModelIndex& index) const
{
    const PurchasedApp& app = m_rows->app(index.row());
    const AppModel* model = m_rows->appModel();
    const AppActivity activity = model->activity(app.id);
    const bool busy = RowPaint::isBusy(activity);
    const bool cancellable =
        activity.kind == AppActivity::Kind::downloading || activity.kind == AppActivity::Kind::installing;
    const bool hasPhone = !model->devices().isEmpty();
    const QRect content = contentRect(rowRect);

    Control menu;
    menu.id = menuID;
    menu.icon = menuIcon();
    menu.borderless = true;
    menu.enabled = !busy;
    const QSize menuSize = buttonSize({}, true);
    menu.rect =
        QRect(QPoint(content.right() - menuSize.width() + 1, content.center().y() - menuSize.height() / 2), menuSize);

    Control install;
    install.id = installID;
    install.text = QStringLiteral("Установить");
    install.enabled = !busy && hasPhone;
    install.prominent = hasPhone;
    install.toolTip = hasPhone ? QStringLiteral("Скачать последнюю версию и поставить на устройство")
                               : QStringLiteral("Подключи iPhone кабелем");
    if (cancellable) {
        install.id = cancelID;
        install.text = QStringLiteral("Отменить");
        install.enabled = true;
        install.prominent = false;
        install.toolTip = QStringLiteral("Остановить и ничего не оставлять недокачанным");
    }
    const QSize installSize = buttonSize(install.text, false);
    install.rect =
        QRect(QPoint(menu.rect.left() - 6 - installSize.width(), content.center().y() - installSize.height() / 2),
              installSize);
    return {install, menu};
}

QString AppRowDelegate::primaryAction(const QModelIndex& index) const
{
    const AppModel* model = m_rows->appModel();
    if (RowPaint::isBusy(model->activity(m_rows->app(index.row()).id)))
        return {};
    return model->devices().isEmpty() ? downloadID : installID;
}

void AppRowDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    const PurchasedApp& app = m_rows->app(index.row());
    const AppModel* model = m_rows->appModel();
    const QPalette& palette = option.palette;
    painter->save();
    paintBackground(painter, option);
    const QRect content = contentRect(option);

    // Icon, or the name's first letter while there is none.
    const QRect iconRect(content.left(), content.center().y() - iconSide / 2, iconSide, iconSide);
    const qreal ratio = painter->device()->devicePixelRatioF();
    const QPixmap* icon = app.artworkURL ? m_artwork->icon(*app.artworkURL, iconSide, ratio) : nullptr;
    // A saved file's own icon stands in when the store has none to give.
    const QImage fileIcon = app.artworkURL ? QImage() : model->fileIcon(app.bundleID);
    if (icon)
        painter->drawPixmap(iconRect, *icon);
    else if (!fileIcon.isNull())
        RowPaint::roundedImage(painter, iconRect, fileIcon);
    else
        RowPaint::initialSquare(painter, iconRect, app.name, palette);

    // Status and buttons take the right; the texts get what is left.
    const QList<Control> buttons = controls(option.rect, index);
    const int controlsLeft = buttons.first().rect.left();
    const AppActivity activity = model->activity(app.id);
    const int statusWidth = RowPaint::activityWidth(activity, statusMaxWidth);
    const QRect statusArea(controlsLeft - spacing - statusMaxWidth, content.top(), statusMaxWidth, content.height());
    RowPaint::activity(painter, statusArea, activity, palette, phase());
    const int textLeft = iconRect.right() + 1 + spacing;
    const int textRight = controlsLeft - spacing - (statusWidth > 0 ? statusWidth + spacing : 0);
    const int textWidth = qMax(0, textRight - textLeft);

    const QFont nameFont = RowPaint::mediumFont();
    const QFont captionFont = RowPaint::captionFont();
    const QFontMetrics nameMetrics(nameFont);
    const QFontMetrics captionMetrics(captionFont);
    const int blockHeight = nameMetrics.height() + 2 + captionMetrics.height();
    const int nameTop = content.center().y() - blockHeight / 2;
    const int captionTop = nameTop + nameMetrics.height() + 2;

    const bool gone = app.isGoneFromStore();
    const QString badgeText = goneBadge(gone ? model->goneSince(app.id) : std::nullopt);
    const int badgeSpace = gone ? RowPaint::badgeWidth(badgeText) + 6 : 0;
    const QString name = nameMetrics.elidedText(app.name, Qt::ElideRight, qMax(0, textWidth - badgeSpace));
    painter->setFont(nameFont);
    painter->setPen(palette.color(QPalette::Text));
    painter->drawText(QRect(textLeft, nameTop, textWidth, nameMetrics.height()), Qt::AlignLeft | Qt::AlignVCenter,
                      name);
    if (gone) {
        QColor fill = RowPaint::orange();
        fill.setAlphaF(0.18);
        RowPaint::badge(painter, textLeft + nameMetrics.horizontalAdvance(name) + 6, nameTop + nameMetrics.height() / 2,
                        badgeText, RowPaint::orange(), fill);
    }

    const bool downloaded = model->downloadedBundleIDs().contains(app.bundleID);
    const QString mark = QStringLiteral("скачано");
    const QFont markFont = RowPaint::caption2Font();
    const int markWidth = downloaded ? 14 + 3 + QFontMetrics(markFont).horizontalAdvance(mark) : 0;
    const QString line =
        captionMetrics.elidedText(subtitle(app), Qt::ElideRight, qMax(0, textWidth - (downloaded ? markWidth + 8 : 0)));
    painter->setFont(captionFont);
    painter->setPen(RowPaint::secondary(palette));
    const QRect lineRect(textLeft, captionTop, textWidth, captionMetrics.height());
    painter->drawText(lineRect, Qt::AlignLeft | Qt::AlignVCenter, line);
    if (downloaded) {
        const int markLeft = textLeft + captionMetrics.horizontalAdvance(line) + 8;
        const int centreY = lineRect.center().y();
        painter->drawPixmap(QRect(markLeft, centreY - 6, 12, 12),
                            Icons::pixmap(QStringLiteral("arrow.down.circle.fill"), 12, RowPaint::green(), ratio));
        painter->setFont(markFont);
        painter->setPen(RowPaint::green());
        painter->drawText(QRect(markLeft + 15, captionTop, markWidth, captionMetrics.height()),
                          Qt::AlignLeft | Qt::AlignVCenter, mark);
    }
    painter->restore();
    paintControls(painter, option, index);
}
