#include "ui/DeviceBar.h"

#include "model/AppModel.h"
#include "ui/Icons.h"
#include "ui/RowPaint.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QSignalBlocker>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

constexpr int iconSide = 24;

QWidget* twoLines(QWidget* parent, QLabel* top, QLabel* bottom)
{
    auto* block = new QWidget(parent);
    auto* layout = new QVBoxLayout(block);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(1);
    layout->addWidget(top);
    layout->addWidget(bottom);
    return block;
}

void makeSecondary(QLabel* label)
{
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, RowPaint::secondary(palette));
    label->setPalette(palette);
}

} // namespace

DeviceBar::DeviceBar(AppModel* model, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
    , m_icon(new QLabel(this))
    , m_name(new QLabel(this))
    , m_subtitle(new QLabel(this))
    , m_combo(new QComboBox(this))
    , m_error(new QLabel(this))
    , m_attention(new QLabel(this))
    , m_refresh(new QToolButton(this))
{
    setObjectName(QStringLiteral("deviceBar"));
    m_icon->setObjectName(QStringLiteral("deviceIcon"));
    m_icon->setFixedSize(iconSide + 4, iconSide + 4);
    m_icon->setAlignment(Qt::AlignCenter);

    m_name->setObjectName(QStringLiteral("deviceName"));
    m_name->setFont(RowPaint::font(0.95, QFont::Medium));
    m_subtitle->setObjectName(QStringLiteral("deviceSubtitle"));
    m_subtitle->setFont(RowPaint::captionFont());
    makeSecondary(m_subtitle);
    m_single = twoLines(this, m_name, m_subtitle);

    m_picker = new QWidget(this);
    auto* pickerLayout = new QHBoxLayout(m_picker);
    pickerLayout->setContentsMargins(0, 0, 0, 0);
    pickerLayout->setSpacing(8);
    auto* pickerLabel = new QLabel(QStringLiteral("Устройство"), m_picker);
    pickerLabel->setBuddy(m_combo);
    pickerLayout->addWidget(pickerLabel);
    m_combo->setParent(m_picker);
    m_combo->setObjectName(QStringLiteral("devicePicker"));
    m_combo->setMaximumWidth(320);
    m_combo->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    m_combo->setMinimumContentsLength(12);
    pickerLayout->addWidget(m_combo);

    m_error->setObjectName(QStringLiteral("deviceError"));
    m_error->setFont(RowPaint::font(0.95));
    m_error->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* hint = new QLabel(QStringLiteral("Подключи кабелем, разблокируй экран и нажми «Доверять»"), this);
    hint->setObjectName(QStringLiteral("deviceHint"));
    hint->setFont(RowPaint::captionFont());
    makeSecondary(hint);
    m_none = twoLines(this, m_error, hint);

    // What the chosen phone still needs from its owner: trust, or unlocking.
    m_attention->setObjectName(QStringLiteral("deviceAttention"));
    m_attention->setFont(RowPaint::captionFont());
    QPalette attention = m_attention->palette();
    attention.setColor(QPalette::WindowText, RowPaint::orange());
    m_attention->setPalette(attention);

    m_refresh->setObjectName(QStringLiteral("deviceRefresh"));
    m_refresh->setAutoRaise(true);
    m_refresh->setIcon(Icons::icon(QStringLiteral("arrow.clockwise")));
    m_refresh->setIconSize(QSize(16, 16));
    m_refresh->setToolTip(QStringLiteral("Проверить подключённые устройства"));
    connect(m_refresh, &QToolButton::clicked, model, [model] { model->refreshDevices(true); });

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(14, 8, 10, 8);
    layout->setSpacing(10);
    layout->addWidget(m_icon);
    layout->addWidget(m_single);
    layout->addWidget(m_picker);
    layout->addWidget(m_attention);
    layout->addWidget(m_none, 1);
    layout->addStretch();
    layout->addWidget(m_refresh);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);

    connect(m_combo, &QComboBox::currentIndexChanged, this, &DeviceBar::pickerChanged);
    connect(model, &AppModel::devicesChanged, this, &DeviceBar::updateDevices);
    connect(model, &AppModel::deviceErrorChanged, this, &DeviceBar::updateDevices);
    connect(model, &AppModel::selectedDeviceIDChanged, this, &DeviceBar::updateSelection);
    updateDevices();
}

void DeviceBar::updateDevices()
{
    const QList<Device>& devices = m_model->devices();
    const bool any = !devices.isEmpty();
    m_icon->setPixmap(
        any ? Icons::pixmap(QStringLiteral("iphone.gen3"), iconSide, RowPaint::green(), devicePixelRatioF())
            : Icons::pixmap(QStringLiteral("cable.connector.slash"), iconSide, RowPaint::secondary(palette()),
                            devicePixelRatioF()));
    m_single->setVisible(devices.size() == 1);
    m_picker->setVisible(devices.size() > 1);
    m_none->setVisible(!any);

    if (devices.size() == 1) {
        m_name->setText(devices.first().name);
        m_subtitle->setText(devices.first().subtitle());
    }
    {
        const QSignalBlocker blocker(m_combo);
        m_combo->clear();
        if (devices.size() > 1) {
            for (const Device& device : devices)
                m_combo->addItem(device.name + QStringLiteral(" · ") + device.subtitle(), device.id());
        }
    }
    m_error->setText(m_model->deviceError().value_or(QStringLiteral("iPhone не подключён")));
    updateSelection();
}

void DeviceBar::updateSelection()
{
    const std::optional<Device> selected = m_model->selectedDevice();
    const QString hint = selected ? selected->accessHint() : QString();
    m_attention->setText(hint);
    m_attention->setVisible(!hint.isEmpty());
    if (m_combo->count() == 0)
        return;
    const QSignalBlocker blocker(m_combo);
    const std::optional<QString> selectedID = m_model->selectedDeviceID();
    const int index = selectedID ? m_combo->findData(*selectedID) : -1;
    m_combo->setCurrentIndex(index >= 0 ? index : 0);
}

void DeviceBar::pickerChanged(int index)
{
    if (index < 0)
        return;
    m_model->setSelectedDeviceID(m_combo->itemData(index).toString());
}
