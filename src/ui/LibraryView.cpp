#include "ui/LibraryView.h"

#include "BuildConfig.h"
#include "model/AppModel.h"
#include "ui/AppRowDelegate.h"
#include "ui/ArtworkCache.h"
#include "ui/EmptyState.h"
#include "ui/Icons.h"
#include "ui/LibraryListModel.h"
#include "ui/Navigation.h"
#include "ui/RadarBanner.h"
#include "ui/RowPaint.h"
#include "ui/SearchField.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QStackedWidget>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

std::optional<QUrl> storePage(qint64 appID)
{
    QUrl url;
    url.setScheme(QStringLiteral("https"));
    url.setHost(QString::fromUtf8(BuildConfig::storeWebHost));
    url.setPath(QStringLiteral("/app/id") + QString::number(appID));
    if (!url.isValid() || url.host().isEmpty())
        return std::nullopt;
    return url;
}

} // namespace

LibraryView::LibraryView(AppModel* model, Navigation* navigation, bool onlyGone, ArtworkCache* artwork, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
    , m_navigation(navigation)
    , m_onlyGone(onlyGone)
    , m_search(new QLineEdit(this))
    , m_refresh(new QPushButton(Icons::icon(QStringLiteral("arrow.clockwise")), QStringLiteral("Обновить"), this))
    , m_states(new QStackedWidget(this))
    , m_loading(new QWidget(m_states))
    , m_progress(new QProgressBar(m_loading))
    , m_status(new QLabel(m_loading))
    , m_list(new QListView(m_states))
    , m_empty(onlyGone ? EmptyState::make(QStringLiteral("clock.arrow.circlepath"),
                                          QStringLiteral("Снятых приложений не нашлось"),
                                          QStringLiteral("Здесь окажется всё, чего больше нет в App Store,\nно что "
                                                         "аккаунт когда-то скачивал."),
                                          m_states)
                       : EmptyState::make(QStringLiteral("magnifyingglass"), QStringLiteral("Ничего не найдено"), {},
                                          m_states))
    , m_rows(new LibraryListModel(model, onlyGone, this))
    , m_delegate(new AppRowDelegate(m_list, m_rows, artwork))
{
    const QString prefix = onlyGone ? QStringLiteral("gone") : QStringLiteral("library");
    setObjectName(prefix + QStringLiteral("View"));
    m_search->setObjectName(QStringLiteral("librarySearch"));
    m_search->setPlaceholderText(QStringLiteral("Поиск по названию или bundle id"));
    m_search->setClearButtonEnabled(true);
    m_search->addAction(Icons::icon(QStringLiteral("magnifyingglass")), QLineEdit::LeadingPosition);
    SearchField::setUp(m_search);
    m_search->setText(model->search());
    m_refresh->setObjectName(QStringLiteral("libraryRefresh"));

    auto* header = new QHBoxLayout;
    header->setContentsMargins(12, 10, 12, 10);
    header->setSpacing(8);
    header->addWidget(m_search, 1);
    header->addWidget(m_refresh);
    header->addWidget(makeSaveControl());

    auto* loadingLayout = new QVBoxLayout(m_loading);
    loadingLayout->setSpacing(10);
    loadingLayout->addStretch();
    m_progress->setObjectName(QStringLiteral("libraryProgress"));
    m_progress->setRange(0, 1000);
    m_progress->setTextVisible(false);
    m_progress->setFixedWidth(260);
    loadingLayout->addWidget(m_progress, 0, Qt::AlignHCenter);
    m_status->setObjectName(QStringLiteral("libraryStatus"));
    m_status->setFont(RowPaint::font(0.95));
    QPalette statusPalette = m_status->palette();
    statusPalette.setColor(QPalette::WindowText, RowPaint::secondary(statusPalette));
    m_status->setPalette(statusPalette);
    loadingLayout->addWidget(m_status, 0, Qt::AlignHCenter);
    loadingLayout->addStretch();

    m_list->setObjectName(QStringLiteral("libraryList"));
    m_list->setModel(m_rows);
    m_list->setItemDelegate(m_delegate);
    m_list->setUniformItemSizes(true);
    m_list->setSelectionMode(QAbstractItemView::NoSelection);
    m_list->setFrameShape(QFrame::NoFrame);
    m_list->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_empty->setObjectName(prefix + QStringLiteral("Empty"));
    m_loading->setObjectName(prefix + QStringLiteral("Loading"));

    m_states->addWidget(m_loading);
    m_states->addWidget(m_list);
    m_states->addWidget(m_empty);
    if (!onlyGone) {
        // A search that finds nothing and an account that never downloaded anything call for
        // different words.
        m_emptyHistory = EmptyState::make(
            QStringLiteral("square.grid.2x2"), QStringLiteral("История загрузок пуста"),
            QStringLiteral("Apple не помнит, чтобы этот аккаунт скачивал что-нибудь из App Store, поэтому "
                           "переустанавливать отсюда нечего. Если приложения качались с другого Apple ID, войди в "
                           "него; после новых загрузок нажми «Обновить»."),
            m_states);
        m_emptyHistory->setObjectName(QStringLiteral("libraryEmptyHistory"));
        m_states->addWidget(m_emptyHistory);
    }

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(new RadarBanner(model, this));
    layout->addLayout(header);
    layout->addWidget(m_states, 1);

    connect(m_search, &QLineEdit::textChanged, model, [model](const QString& text) { model->setSearch(text); });
    connect(model, &AppModel::searchChanged, this, [this] {
        if (m_search->text() != m_model->search())
            m_search->setText(m_model->search());
    });
    connect(m_refresh, &QPushButton::clicked, model, [model] { model->syncPurchases(true); });
    connect(model, &AppModel::syncProgressChanged, this, &LibraryView::showState);
    connect(model, &AppModel::syncStatusChanged, this, &LibraryView::showState);
    connect(m_rows, &QAbstractItemModel::modelAboutToBeReset, this, &LibraryView::keepPlace);
    connect(m_rows, &QAbstractItemModel::modelReset, this, &LibraryView::restorePlace);
    connect(m_rows, &QAbstractItemModel::modelReset, this, &LibraryView::showState);
    connect(model, &AppModel::activitiesChanged, this, &LibraryView::updateAnimation);
    connect(artwork, &ArtworkCache::loaded, m_list->viewport(), qOverload<>(&QWidget::update));
    connect(m_delegate, &RowDelegate::controlClicked, this, &LibraryView::controlClicked);
    showState();
    updateAnimation();
}

QWidget* LibraryView::makeSaveControl()
{
    if (m_onlyGone) {
        auto* saveGone = new QPushButton(Icons::icon(QStringLiteral("arrow.down.circle.fill")),
                                         QStringLiteral("Скачать все снятые"), this);
        saveGone->setObjectName(QStringLiteral("saveGoneButton"));
        saveGone->setToolTip(QStringLiteral("Поставить в очередь все снятые приложения, которых ещё нет в файлах"));
        connect(saveGone, &QPushButton::clicked, m_model, [model = m_model] { model->saveGoneApps(); });
        return saveGone;
    }
    auto* more = new QToolButton(this);
    more->setObjectName(QStringLiteral("libraryMenuButton"));
    more->setIcon(Icons::icon(QStringLiteral("ellipsis.circle")));
    more->setAutoRaise(true);
    more->setPopupMode(QToolButton::InstantPopup);
    more->setStyleSheet(QStringLiteral("QToolButton::menu-indicator { image: none; }"));
    auto* menu = new QMenu(more);
    QAction* saveAll = menu->addAction(QStringLiteral("Сохранить всю библиотеку"), m_model,
                                       [model = m_model] { model->saveLibrary(); });
    saveAll->setObjectName(QStringLiteral("saveLibraryAction"));
    more->setMenu(menu);
    return more;
}

void LibraryView::showState()
{
    const std::optional<double> progress = m_model->syncProgress();
    m_refresh->setEnabled(!progress);
    m_progress->setValue(qRound(progress.value_or(0) * 1000));
    m_status->setText(m_model->syncStatus());
    if (m_model->apps().isEmpty() && progress)
        m_states->setCurrentWidget(m_loading);
    else if (m_rows->rowCount() > 0)
        m_states->setCurrentWidget(m_list);
    else if (m_emptyHistory && m_model->apps().isEmpty())
        m_states->setCurrentWidget(m_emptyHistory);
    else
        m_states->setCurrentWidget(m_empty);
}

// A synced history, a radar pass or a narrower search resets the rows: the row the user is on
// (or the one at the top of the screen) stays where it stood rather than jumping to the start.
void LibraryView::keepPlace()
{
    const QModelIndex current = m_list->currentIndex();
    m_currentApp = current.isValid() ? m_rows->app(current.row()).id : 0;
    const bool currentShown = current.isValid() && m_list->viewport()->rect().intersects(m_list->visualRect(current));
    const QModelIndex anchor = currentShown ? current : m_list->indexAt(QPoint(1, 1));
    m_anchorApp = anchor.isValid() ? m_rows->app(anchor.row()).id : 0;
    m_anchorTop = anchor.isValid() ? m_list->visualRect(anchor).top() : 0;
}

void LibraryView::restorePlace()
{
    if (const int row = m_currentApp ? m_rows->rowOf(m_currentApp) : -1; row >= 0)
        m_list->setCurrentIndex(m_rows->index(row));
    const int anchor = m_anchorApp ? m_rows->rowOf(m_anchorApp) : -1;
    if (anchor < 0)
        return;
    m_list->doItemsLayout();
    QScrollBar* scroll = m_list->verticalScrollBar();
    scroll->setValue(scroll->value() + m_list->visualRect(m_rows->index(anchor)).top() - m_anchorTop);
}

void LibraryView::updateAnimation()
{
    // Spinners only turn while something is busy; an idle list never repaints by itself.
    bool spinning = false;
    for (const AppActivity& activity : m_model->activities()) {
        if (activity.kind == AppActivity::Kind::fetchingVersions
            || (activity.kind == AppActivity::Kind::downloading && activity.bytes < 1)) {
            spinning = true;
            break;
        }
    }
    m_delegate->setAnimating(spinning);
}

void LibraryView::controlClicked(const QModelIndex& index, const QString& id, const QRect& anchor)
{
    if (!index.isValid())
        return;
    const PurchasedApp app = m_rows->app(index.row());
    if (id == AppRowDelegate::installID)
        m_model->installOnDevice(app, std::nullopt);
    else if (id == AppRowDelegate::downloadID)
        m_model->download(app, std::nullopt);
    else if (id == AppRowDelegate::cancelID)
        m_model->cancel(app.id);
    else if (id == AppRowDelegate::menuID)
        openMenu(index.row(), anchor);
}

void LibraryView::openMenu(int row, const QRect& anchor)
{
    const PurchasedApp app = m_rows->app(row);
    auto* menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("libraryRowMenu"));
    menu->setAttribute(Qt::WA_DeleteOnClose);
    QPointer<AppModel> model = m_model;
    QPointer<Navigation> navigation = m_navigation;
    menu->addAction(QStringLiteral("Только скачать IPA"), this, [model, app] {
        if (model)
            model->download(app, std::nullopt);
    });
    menu->addAction(QStringLiteral("Выбрать версию…"), this, [navigation, app] {
        if (navigation)
            navigation->setVersionRequest(AppModel::VersionRequest{AppModel::Target::from(app)});
    });
    menu->addSeparator();
    menu->addAction(QStringLiteral("Скопировать bundle id"), this, [app] {
        QClipboard* clipboard = QGuiApplication::clipboard();
        clipboard->clear();
        clipboard->setText(app.bundleID);
    });
    if (const std::optional<QUrl> page = storePage(app.id)) {
        menu->addAction(QStringLiteral("Открыть страницу в App Store"), this,
                        [url = *page] { QDesktopServices::openUrl(url); });
    }
    menu->popup(anchor.bottomLeft());
}
