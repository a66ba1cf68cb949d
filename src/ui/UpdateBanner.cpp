#include "ui/UpdateBanner.h"

#include "model/AppModel.h"
#include "ui/ElidedLabel.h"
#include "ui/Icons.h"
#include "ui/Labels.h"
#include "ui/Navigation.h"
#include "ui/ProminentButton.h"
#include "ui/RowPaint.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

UpdateBanner::UpdateBanner(AppModel* model, Navigation* navigation, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
    , m_navigation(navigation)
    , m_title(Labels::create({}, RowPaint::font(0.95, QFont::Medium), {}, this))
    , m_detail(new ElidedLabel(this))
{
    setObjectName(QStringLiteral("updateBanner"));
    m_title->setObjectName(QStringLiteral("updateBannerTitle"));
    m_detail->setObjectName(QStringLiteral("updateBannerDetail"));
    // Long notes are cut to one line here; the sheet shows them whole.
    m_detail->setFont(RowPaint::captionFont());
    Labels::setColour(m_detail, RowPaint::secondary(palette()));

    auto* icon = new QLabel(this);
    icon->setPixmap(
        Icons::pixmap(QStringLiteral("arrow.down.circle.fill"), 20, RowPaint::green(), devicePixelRatioF()));
    auto* texts = new QVBoxLayout;
    texts->setSpacing(1);
    texts->addWidget(m_title);
    texts->addWidget(m_detail);

    auto* more = new QPushButton(QStringLiteral("Подробнее"), this);
    more->setObjectName(QStringLiteral("updateBannerMore"));
    auto* update = new ProminentButton(QStringLiteral("Обновить"), this);
    update->setObjectName(QStringLiteral("updateBannerUpdate"));
    for (QPushButton* button : {static_cast<QPushButton*>(more), static_cast<QPushButton*>(update)}) {
        button->setFont(RowPaint::captionFont());
        button->setAutoDefault(false);
        connect(button, &QPushButton::clicked, navigation, [navigation] { navigation->setShowUpdateSheet(true); });
    }

    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(16, 9, 16, 10); // the bottom pixel is the divider
    row->setSpacing(10);
    row->addWidget(icon, 0, Qt::AlignVCenter);
    row->addLayout(texts, 1);
    row->addWidget(more, 0, Qt::AlignVCenter);
    row->addWidget(update, 0, Qt::AlignVCenter);

    connect(model, &AppModel::updateStateChanged, this, &UpdateBanner::refresh);
    connect(model, &AppModel::updateInfoChanged, this, &UpdateBanner::refresh);
    refresh();
}

void UpdateBanner::refresh()
{
    const std::optional<UpdateInfo>& info = m_model->updateInfo();
    const bool offered = info && m_model->updateState().kind == AppModel::UpdateState::Kind::available;
    setVisible(offered);
    if (!offered)
        return;
    m_title->setText(QStringLiteral("Доступна версия ") + info->version);
    const QString notes = info->notes.simplified();
    m_detail->setFullText(notes.isEmpty() ? QStringLiteral("Нажми «Обновить», чтобы поставить её") : notes);
}

void UpdateBanner::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    QColor fill = RowPaint::green();
    fill.setAlphaF(0.10);
    painter.fillRect(rect(), fill);
    painter.fillRect(QRect(0, height() - 1, width(), 1), palette().color(QPalette::Mid));
}
