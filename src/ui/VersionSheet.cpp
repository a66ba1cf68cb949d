#include "ui/VersionSheet.h"

#include "ui/Labels.h"
#include "ui/ProminentButton.h"
#include "ui/RowPaint.h"
#include "ui/Spinner.h"
#include "ui/VersionListModel.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QListView>
#include <QPainter>
#include <QPushButton>
#include <QStackedWidget>
#include <QStyledItemDelegate>
#include <QVBoxLayout>

namespace {

constexpr int rowPaddingX = 12;
constexpr int rowPaddingY = 8;
constexpr int lineSpacing = 2;
constexpr int badgeGap = 8;

class VersionRowDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const override
    {
        const int lines =
            QFontMetrics(RowPaint::bodyFont()).height() + lineSpacing + QFontMetrics(RowPaint::captionFont()).height();
        return {option.rect.width(), lines + 2 * rowPaddingY};
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QStyleOptionViewItem item = option;
        initStyleOption(&item, index);
        item.text.clear();
        const QWidget* widget = item.widget;
        const QStyle* style = widget ? widget->style() : QApplication::style();
        style->drawPrimitive(QStyle::PE_PanelItemViewItem, &item, painter, widget);

        const bool selected = item.state & QStyle::State_Selected;
        const QPalette& colours = item.palette;
        const QColor accent = colours.color(QPalette::Active, QPalette::Highlight);
        QColor primary = colours.color(selected ? QPalette::HighlightedText : QPalette::Text);
        QColor secondary = RowPaint::secondary(colours);
        if (selected) {
            secondary = primary;
            secondary.setAlphaF(0.8);
        }

        const QFont body = RowPaint::bodyFont();
        const QFont caption = RowPaint::captionFont();
        const QFontMetrics bodyMetrics(body);
        const QFontMetrics captionMetrics(caption);
        const QRect area = item.rect.adjusted(rowPaddingX, rowPaddingY, -rowPaddingX, -rowPaddingY);
        const QRect first(area.left(), area.top(), area.width(), bodyMetrics.height());
        const QRect second(area.left(), first.bottom() + 1 + lineSpacing, area.width(), captionMetrics.height());

        painter->save();
        const QString badge = index.data(VersionListModel::BadgeRole).toString();
        const int badgeSpace = badge.isEmpty() ? 0 : RowPaint::badgeWidth(badge) + badgeGap;
        const QString title =
            bodyMetrics.elidedText(index.data().toString(), Qt::ElideRight, first.width() - badgeSpace);
        painter->setFont(body);
        painter->setPen(primary);
        painter->drawText(first, Qt::AlignLeft | Qt::AlignVCenter, title);
        if (!badge.isEmpty()) {
            // On a selected row the accent fill would vanish into the selection.
            QColor fill = selected ? primary : accent;
            fill.setAlphaF(selected ? 0.25 : 0.15);
            RowPaint::badge(painter, first.left() + bodyMetrics.horizontalAdvance(title) + badgeGap, first.center().y(),
                            badge, selected ? primary : accent, fill);
        }
        painter->setFont(caption);
        painter->setPen(secondary);
        const QString subtitle = index.data(VersionListModel::SubtitleRole).toString();
        painter->drawText(second, Qt::AlignLeft | Qt::AlignVCenter,
                          captionMetrics.elidedText(subtitle, Qt::ElideRight, second.width()));
        painter->restore();
    }
};

} // namespace

VersionSheet::VersionSheet(AppModel* model, AppModel::Target target, QWidget* parent)
    : QDialog(parent)
    , m_model(model)
    , m_target(std::move(target))
    , m_versions(new VersionListModel(this))
    , m_deviceLine(Labels::create({}, RowPaint::captionFont(), RowPaint::secondary(palette()), this))
    , m_body(new QStackedWidget(this))
    , m_loadingPage(new QWidget(m_body))
    , m_empty(Labels::wrapping(QStringLiteral("Apple не отдал список версий для этого приложения"),
                               RowPaint::bodyFont(), RowPaint::secondary(palette()), m_body))
    , m_list(new QListView(m_body))
    , m_close(new QPushButton(QStringLiteral("Закрыть"), this))
    , m_download(new QPushButton(QStringLiteral("Скачать"), this))
    , m_install(new ProminentButton(QStringLiteral("Установить"), this))
{
    setObjectName(QStringLiteral("versionSheet"));
    setWindowTitle(m_target.name);
    setWindowModality(Qt::WindowModal);
    setFixedSize(560, 460);

    const QColor secondary = RowPaint::secondary(palette());
    QLabel* name = Labels::create(m_target.name, Labels::headlineFont(), {}, this);
    auto* header = new QVBoxLayout;
    header->setSpacing(2);
    header->addWidget(name);
    header->addWidget(Labels::create(QStringLiteral("Доступные версии из истории App Store"), RowPaint::captionFont(),
                                     secondary, this));
    header->addWidget(m_deviceLine);

    m_loadingPage->setObjectName(QStringLiteral("versionLoading"));
    auto* loading = new QVBoxLayout(m_loadingPage);
    loading->setSpacing(12);
    loading->addStretch();
    loading->addWidget(new Spinner(m_loadingPage), 0, Qt::AlignHCenter);
    loading->addWidget(
        Labels::create(QStringLiteral("Спрашиваю Apple…"), Labels::calloutFont(), secondary, m_loadingPage), 0,
        Qt::AlignHCenter);
    loading->addStretch();

    m_empty->setObjectName(QStringLiteral("versionEmpty"));
    m_empty->setAlignment(Qt::AlignCenter);

    m_list->setObjectName(QStringLiteral("versionList"));
    m_list->setModel(m_versions);
    m_list->setItemDelegate(new VersionRowDelegate(m_list));
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setUniformItemSizes(true);
    m_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

    m_body->addWidget(m_loadingPage);
    m_body->addWidget(m_empty);
    m_body->addWidget(m_list);

    m_close->setObjectName(QStringLiteral("versionClose"));
    m_download->setObjectName(QStringLiteral("versionDownload"));
    m_install->setObjectName(QStringLiteral("versionInstall"));
    m_close->setAutoDefault(false);
    m_download->setAutoDefault(false);
    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(8);
    buttons->addStretch();
    buttons->addWidget(m_close);
    buttons->addWidget(m_download);
    buttons->addWidget(m_install);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(20, 20, 20, 20);
    column->setSpacing(12);
    column->addLayout(header);
    column->addWidget(m_body, 1);
    column->addWidget(Labels::wrapping(
        QStringLiteral("Старые версии полезны, когда iOS на устройстве младше требований новой сборки."),
        RowPaint::captionFont(), secondary, this));
    column->addLayout(buttons);

    connect(m_list->selectionModel(), &QItemSelectionModel::selectionChanged, this, &VersionSheet::selectionChanged);
    connect(m_close, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_download, &QPushButton::clicked, this, [this] {
        // The download goes on after the sheet has closed; the library row reports it.
        if (const std::optional<AppVersion> version = selected()) {
            m_model->download(m_target, version);
            accept();
        }
    });
    connect(m_install, &QPushButton::clicked, this, [this] {
        if (const std::optional<AppVersion> version = selected()) {
            m_model->installOnDevice(m_target, version);
            accept();
        }
    });
    connect(model, &AppModel::devicesChanged, this, &VersionSheet::refreshDevice);
    connect(model, &AppModel::selectedDeviceIDChanged, this, &VersionSheet::refreshDevice);
    refreshDevice();
}

std::optional<AppVersion> VersionSheet::selected() const
{
    if (!m_selection)
        return std::nullopt;
    for (const AppVersion& version : m_versions->versions()) {
        if (version.externalID == *m_selection)
            return version;
    }
    return std::nullopt;
}

void VersionSheet::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (m_started)
        return;
    m_started = true;
    load(QPointer(this), m_model, m_target);
}

QCoro::Task<> VersionSheet::load(QPointer<VersionSheet> sheet, AppModel* model, AppModel::Target target)
{
    QList<AppVersion> versions = co_await model->loadVersions(target.adamID, target.name);
    // The sheet may have been closed and deleted while Apple answered.
    if (sheet)
        sheet->showVersions(std::move(versions));
}

void VersionSheet::showVersions(QList<AppVersion> versions)
{
    m_versions->setVersions(std::move(versions));
    m_body->setCurrentWidget(m_versions->rowCount() > 0 ? static_cast<QWidget*>(m_list) : m_empty);
    if (m_versions->rowCount() > 0)
        m_list->setCurrentIndex(m_versions->index(0));
    selectionChanged();
    if (m_versions->rowCount() > 0)
        m_list->setFocus();
}

void VersionSheet::selectionChanged()
{
    const QModelIndexList rows = m_list->selectionModel()->selectedIndexes();
    m_selection =
        rows.isEmpty() ? std::nullopt : std::optional(rows.first().data(VersionListModel::ExternalIDRole).toString());
    refreshButtons();
}

void VersionSheet::refreshDevice()
{
    const std::optional<Device> device = m_model->selectedDevice();
    if (device)
        m_deviceLine->setText(QStringLiteral("iOS ") + device->iosVersion.value_or(QStringLiteral("?"))
                              + QStringLiteral(" · ") + device->name);
    m_deviceLine->setVisible(device.has_value());
    refreshButtons();
}

void VersionSheet::refreshButtons()
{
    m_download->setEnabled(m_selection.has_value());
    m_install->setEnabled(m_selection.has_value() && !m_model->devices().isEmpty());
    if (m_install->isEnabled())
        m_install->setDefault(true);
    else
        m_download->setDefault(true);
}
