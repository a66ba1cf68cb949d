#include "ui/RadarBanner.h"

#include "common/RussianText.h"
#include "model/AppModel.h"
#include "ui/Icons.h"
#include "ui/ProminentButton.h"
#include "ui/RowPaint.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>

RadarBanner::RadarBanner(AppModel* model, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
    , m_title(new QLabel(this))
{
    setObjectName(QStringLiteral("radarBanner"));
    m_title->setObjectName(QStringLiteral("radarBannerTitle"));
    m_title->setFont(RowPaint::font(0.95, QFont::Medium));
    auto* icon = new QLabel(this);
    icon->setPixmap(
        Icons::pixmap(QStringLiteral("exclamationmark.triangle.fill"), 18, RowPaint::orange(), devicePixelRatioF()));
    auto* save = new ProminentButton(QStringLiteral("Скачать их"), this);
    save->setObjectName(QStringLiteral("radarBannerSave"));
    auto* hide = new QPushButton(QStringLiteral("Скрыть"), this);
    hide->setObjectName(QStringLiteral("radarBannerHide"));
    for (QPushButton* button : {static_cast<QPushButton*>(save), hide}) {
        button->setFont(RowPaint::captionFont());
        button->setAutoDefault(false);
    }
    connect(save, &QPushButton::clicked, model, [model] { model->saveNewlyGone(); });
    connect(hide, &QPushButton::clicked, model, [model] { model->dismissNewlyGone(); });

    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(16, 8, 16, 9);
    row->setSpacing(10);
    row->addWidget(icon, 0, Qt::AlignVCenter);
    row->addWidget(m_title, 1);
    row->addWidget(hide, 0, Qt::AlignVCenter);
    row->addWidget(save, 0, Qt::AlignVCenter);

    connect(model, &AppModel::newlyGoneChanged, this, &RadarBanner::refresh);
    refresh();
}

QString RadarBanner::title(qsizetype count)
{
    return RussianText::apps(count)
           + RussianText::plural(count, QStringLiteral(" пропало"), QStringLiteral(" пропали"),
                                 QStringLiteral(" пропали"))
           + QStringLiteral(" из App Store");
}

void RadarBanner::refresh()
{
    const qsizetype count = m_model->newlyGone().size();
    setVisible(count > 0);
    m_title->setText(title(count));
}

void RadarBanner::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    QColor fill = RowPaint::orange();
    fill.setAlphaF(0.12);
    painter.fillRect(rect(), fill);
    painter.fillRect(QRect(0, height() - 1, width(), 1), palette().color(QPalette::Mid));
}
