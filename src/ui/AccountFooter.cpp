#include "ui/AccountFooter.h"

#include "common/RussianText.h"
#include "model/AppModel.h"
#include "process/Tools.h"
#include "ui/ElidedLabel.h"
#include "ui/Icons.h"
#include "ui/PathOffer.h"
#include "ui/QueuePanel.h"
#include "ui/RowPaint.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

template <typename Label = QLabel>
Label* makeLabel(const QString& name, const QFont& font, const QColor& color, QWidget* parent)
{
    auto* label = new Label(parent);
    label->setObjectName(name);
    label->setFont(font);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, color);
    label->setPalette(palette);
    return label;
}

} // namespace

AccountFooter::AccountFooter(AppModel* model, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
    , m_accountRow(new QWidget(this))
    , m_name(makeLabel<ElidedLabel>(QStringLiteral("accountName"), RowPaint::font(0.95),
                                    palette().color(QPalette::WindowText), m_accountRow))
    , m_email(makeLabel<ElidedLabel>(QStringLiteral("accountEmail"), RowPaint::captionFont(),
                                     RowPaint::secondary(palette()), m_accountRow))
    , m_menuButton(new QToolButton(m_accountRow))
    , m_progress(new QProgressBar(this))
    , m_status(
          makeLabel(QStringLiteral("footerSyncStatus"), RowPaint::captionFont(), RowPaint::secondary(palette()), this))
    , m_versionLine(
          makeLabel(QStringLiteral("footerVersion"), RowPaint::font(0.8), RowPaint::tertiary(palette()), this))
{
    setObjectName(QStringLiteral("accountFooter"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(10, 0, 10, 10);
    layout->setSpacing(6);
    auto* divider = new QFrame(this);
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Plain);
    divider->setForegroundRole(QPalette::Mid);
    layout->addWidget(divider);

    auto* row = new QHBoxLayout(m_accountRow);
    row->setContentsMargins(0, 4, 0, 0);
    row->setSpacing(8);
    auto* person = new QLabel(m_accountRow);
    person->setPixmap(
        Icons::pixmap(QStringLiteral("person.crop.circle"), 24, RowPaint::secondary(palette()), devicePixelRatioF()));
    row->addWidget(person);
    auto* names = new QVBoxLayout;
    names->setSpacing(1);
    names->addWidget(m_name);
    names->addWidget(m_email);
    row->addLayout(names, 1);
    m_menuButton->setObjectName(QStringLiteral("accountMenuButton"));
    m_menuButton->setIcon(Icons::icon(QStringLiteral("ellipsis.circle")));
    m_menuButton->setIconSize(QSize(18, 18));
    m_menuButton->setAutoRaise(true);
    m_menuButton->setPopupMode(QToolButton::InstantPopup);
    m_menuButton->setStyleSheet(QStringLiteral("QToolButton::menu-indicator { image: none; }"));
    row->addWidget(m_menuButton);
    layout->addWidget(m_accountRow);
    layout->addWidget(new QueuePanel(model, this));

    auto* menu = new QMenu(m_menuButton);
    menu->setObjectName(QStringLiteral("accountMenu"));
    menu->addAction(QStringLiteral("Обновить историю"), model, [model] { model->syncPurchases(true); });
    QAction* openDownloads = menu->addAction(QStringLiteral("Открыть папку с IPA"), this, [this, model] {
        const QString folder = Tools::downloadsDirectory();
        if (!model->revealInFinder(folder))
            PathOffer::show(folder, this);
    });
    openDownloads->setObjectName(QStringLiteral("openDownloadsAction"));
    menu->addSeparator();
    QAction* check =
        menu->addAction(QStringLiteral("Проверить обновления…"), model, [model] { model->checkForUpdates(true); });
    check->setObjectName(QStringLiteral("footerCheckUpdatesAction"));
    connect(model, &AppModel::updateStateChanged, check, [model, check] { check->setEnabled(!model->isUpdating()); });
    menu->addSeparator();
    QAction* signOut = menu->addAction(QStringLiteral("Выйти"), model, [model] { model->signOut(); });
    signOut->setObjectName(QStringLiteral("signOutAction"));
    m_menuButton->setMenu(menu);

    m_progress->setObjectName(QStringLiteral("footerSyncProgress"));
    m_progress->setRange(0, 1000);
    m_progress->setTextVisible(false);
    m_progress->setMaximumHeight(6);
    layout->addWidget(m_progress);
    m_status->setWordWrap(true);
    layout->addWidget(m_status);
    m_versionLine->setWordWrap(true);
    layout->addWidget(m_versionLine);

    connect(model, &AppModel::accountChanged, this, &AccountFooter::showAccount);
    connect(model, &AppModel::syncProgressChanged, this, &AccountFooter::showSync);
    connect(model, &AppModel::syncStatusChanged, this, &AccountFooter::showSync);
    connect(model, &AppModel::lastSyncChanged, this, &AccountFooter::showSync);
    showAccount();
    showSync();
}

void AccountFooter::showAccount()
{
    const std::optional<IPATool::Account>& account = m_model->account();
    m_accountRow->setVisible(account.has_value());
    if (!account)
        return;
    m_name->setFullText(account->name);
    m_email->setFullText(account->email);
}

int AccountFooter::wholeWidth() const
{
    const QMargins outer = layout()->contentsMargins();
    const auto* row = m_accountRow->layout();
    int width = outer.left() + outer.right() + row->contentsMargins().left() + row->contentsMargins().right();
    for (int i = 0; i < row->count(); ++i) {
        if (QWidget* item = row->itemAt(i)->widget())
            width += item->sizeHint().width();
    }
    width += qMax(m_name->sizeHint().width(), m_email->sizeHint().width());
    return width + row->spacing() * (row->count() - 1);
}

void AccountFooter::showSync()
{
    const std::optional<double> progress = m_model->syncProgress();
    m_progress->setVisible(progress.has_value());
    m_status->setVisible(progress.has_value());
    m_versionLine->setVisible(!progress);
    if (progress) {
        m_progress->setValue(qRound(*progress * 1000));
        m_status->setText(m_model->syncStatus());
        return;
    }
    const QString version = m_model->appVersionText();
    if (const std::optional<QDateTime> last = m_model->lastSync()) {
        const QDateTime local = last->toLocalTime();
        m_versionLine->setText(QStringLiteral("Обновлено ") + RussianText::date(local.date()) + QStringLiteral(", ")
                               + RussianText::time(local.time()) + QStringLiteral(" · ") + version);
    } else {
        m_versionLine->setText(version);
    }
}
