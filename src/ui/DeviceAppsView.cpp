#include "ui/DeviceAppsView.h"

#include "model/AppModel.h"
#include "ui/ArtworkCache.h"
#include "ui/DeviceAppRowDelegate.h"
#include "ui/DeviceAppsFilter.h"
#include "ui/DeviceAppsListModel.h"
#include "ui/EmptyState.h"
#include "ui/Icons.h"
#include "ui/Navigation.h"
#include "ui/ProminentButton.h"
#include "ui/RowPaint.h"
#include "ui/SearchField.h"
#include "ui/Spinner.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace {

QLabel* secondaryLabel(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, RowPaint::secondary(palette));
    label->setPalette(palette);
    return label;
}

// Between stretches rather than by alignment: an aligned item is asked its height for the whole
// column's width, and a wrapped label then loses its last lines.
QHBoxLayout* centred(QWidget* widget)
{
    auto* row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(widget);
    row->addStretch();
    return row;
}

} // namespace

DeviceAppsView::DeviceAppsView(AppModel* model, Navigation* navigation, ArtworkCache* artwork, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
    , m_navigation(navigation)
    , m_filter(new DeviceAppsFilter(this))
    , m_rows(new DeviceAppsListModel(model, m_filter, this))
{
    setObjectName(QStringLiteral("deviceAppsView"));

    m_list = new QListView(this);
    m_list->setObjectName(QStringLiteral("deviceAppsList"));
    m_list->setModel(m_rows);
    m_delegate = new DeviceAppRowDelegate(m_list);
    m_delegate->setCanInstall([model] { return !model->devices().isEmpty(); });
    if (artwork) {
        const auto index = [this] {
            m_artworkByBundle.clear();
            for (const PurchasedApp& app : m_model->apps()) {
                if (app.artworkURL)
                    m_artworkByBundle.insert(app.bundleID, *app.artworkURL);
            }
            m_list->viewport()->update();
        };
        connect(model, &AppModel::appsChanged, this, index);
        index();
        m_delegate->setLibraryIcon([this, artwork](const QString& bundleID, int side, qreal ratio) -> const QPixmap* {
            const auto url = m_artworkByBundle.constFind(bundleID);
            return url == m_artworkByBundle.cend() ? nullptr : artwork->icon(*url, side, ratio);
        });
        connect(artwork, &ArtworkCache::loaded, m_list->viewport(), qOverload<>(&QWidget::update));
    }
    m_list->setItemDelegate(m_delegate);
    m_list->setSelectionMode(QAbstractItemView::NoSelection);
    m_list->setUniformItemSizes(true);
    m_list->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    m_list->setFrameShape(QFrame::NoFrame);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);

    m_pages = new QStackedWidget(this);
    m_pages->setObjectName(QStringLiteral("deviceAppsPages"));
    m_loadingPage = makeLoadingPage();
    m_emptyPage = makeEmptyPage();
    m_pages->addWidget(m_loadingPage);
    m_pages->addWidget(m_list);
    m_pages->addWidget(m_emptyPage);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(makeHeader());
    layout->addWidget(m_pages, 1);

    connect(m_delegate, &RowDelegate::controlClicked, this, &DeviceAppsView::controlClicked);
    connect(model, &AppModel::loadingInstalledAppsChanged, this, &DeviceAppsView::updateState);
    connect(model, &AppModel::installedAppsChanged, this, &DeviceAppsView::updateState);
    connect(model, &AppModel::devicesChanged, this, &DeviceAppsView::updateState);
    connect(model, &AppModel::installedAppsErrorChanged, this, &DeviceAppsView::updateState);
    const auto animate = [this] { m_delegate->setAnimating(m_rows->hasSpinningRow()); };
    connect(model, &AppModel::activitiesChanged, this, animate);
    connect(m_rows, &QAbstractItemModel::modelReset, this, animate);
    updateState();
    animate();
}

QWidget* DeviceAppsView::makeHeader()
{
    auto* header = new QWidget(this);
    header->setObjectName(QStringLiteral("deviceAppsHeader"));
    // Two rows: the filters beside the search would squeeze the sidebar in a window of the usual size.
    auto* rows = new QVBoxLayout(header);
    rows->setContentsMargins(12, 10, 12, 10);
    rows->setSpacing(8);
    auto* layout = new QHBoxLayout;
    layout->setSpacing(8);
    rows->addLayout(layout);
    auto* filters = new QHBoxLayout;
    filters->setSpacing(8);
    rows->addLayout(filters);

    m_search = new QLineEdit(header);
    m_search->setObjectName(QStringLiteral("deviceSearch"));
    m_search->setPlaceholderText(QStringLiteral("Поиск по названию, bundle id или App ID"));
    m_search->setClearButtonEnabled(true);
    m_search->addAction(Icons::icon(QStringLiteral("magnifyingglass")), QLineEdit::LeadingPosition);
    SearchField::setUp(m_search);
    connect(m_search, &QLineEdit::textChanged, m_filter, &DeviceAppsFilter::setQuery);
    layout->addWidget(m_search, 1);

    m_readButton =
        new QPushButton(Icons::icon(QStringLiteral("arrow.clockwise")), QStringLiteral("Прочитать телефон"), header);
    m_readButton->setObjectName(QStringLiteral("readPhoneButton"));
    connect(m_readButton, &QPushButton::clicked, m_model, [model = m_model] { model->loadInstalledApps(); });
    layout->addWidget(m_readButton);

    m_unknownToggle = new QPushButton(Icons::icon(QStringLiteral("questionmark.circle")),
                                      QStringLiteral("Только те, чего нет в истории"), header);
    m_unknownToggle->setObjectName(QStringLiteral("unknownOnlyToggle"));
    m_unknownToggle->setCheckable(true);
    m_unknownToggle->setToolTip(QStringLiteral("Приложения, которых нет в истории загрузок аккаунта"));
    connect(m_unknownToggle, &QPushButton::toggled, m_filter, &DeviceAppsFilter::setOnlyUnknownToStore);
    filters->addWidget(m_unknownToggle);

    auto* unsavedToggle = new QPushButton(Icons::icon(QStringLiteral("exclamationmark.triangle.fill")),
                                          QStringLiteral("Только несохранённые"), header);
    unsavedToggle->setObjectName(QStringLiteral("unsavedOnlyToggle"));
    unsavedToggle->setCheckable(true);
    unsavedToggle->setToolTip(QStringLiteral("Приложения, которых нет в App Store и нет в скачанных файлах"));
    connect(unsavedToggle, &QPushButton::toggled, m_filter, &DeviceAppsFilter::setOnlyUnsaved);
    filters->addWidget(unsavedToggle);
    auto* saveUnsaved = new QPushButton(QStringLiteral("Скачать все несохранённые"), header);
    saveUnsaved->setObjectName(QStringLiteral("saveUnsavedButton"));
    connect(saveUnsaved, &QPushButton::clicked, m_model, [model = m_model] { model->saveUnsavedPhoneApps(); });
    filters->addStretch();
    filters->addWidget(saveUnsaved);
    return header;
}

QWidget* DeviceAppsView::makeLoadingPage()
{
    auto* page = new QWidget(this);
    page->setObjectName(QStringLiteral("deviceAppsLoading"));
    auto* layout = new QVBoxLayout(page);
    layout->setSpacing(12);
    layout->addStretch();
    layout->addWidget(new Spinner(page), 0, Qt::AlignHCenter);
    layout->addWidget(secondaryLabel(QStringLiteral("Спрашиваю телефон…"), page), 0, Qt::AlignHCenter);
    layout->addStretch();
    return page;
}

QWidget* DeviceAppsView::makeEmptyPage()
{
    QWidget* page = EmptyState::make(
        QStringLiteral("iphone.gen3"), QStringLiteral("Подключи iPhone"),
        QStringLiteral("Телефон помнит App ID каждого своего приложения — даже тех, что Apple убрала из App Store. "
                       "Именно этот номер нужен, чтобы скачать приложение заново и поставить на другой iPhone."),
        this);
    page->setObjectName(QStringLiteral("deviceAppsEmpty"));
    m_emptyTitle = page->findChild<QLabel*>(QStringLiteral("emptyHeadline"));
    m_emptyTitle->setObjectName(QStringLiteral("deviceEmptyTitle"));

    m_emptyError = new QLabel(page);
    m_emptyError->setObjectName(QStringLiteral("deviceAppsError"));
    m_emptyError->setFont(RowPaint::font(0.95));
    m_emptyError->setWordWrap(true);
    m_emptyError->setAlignment(Qt::AlignHCenter);
    m_emptyError->setFixedWidth(440);
    m_emptyError->setTextInteractionFlags(Qt::TextSelectableByMouse);

    m_emptyReadButton = new ProminentButton(QStringLiteral("Прочитать телефон"), page);
    m_emptyReadButton->setObjectName(QStringLiteral("readPhoneEmptyButton"));
    connect(m_emptyReadButton, &QPushButton::clicked, m_model, [model = m_model] { model->loadInstalledApps(); });

    // Below the explanation, above the closing stretch.
    auto* layout = static_cast<QVBoxLayout*>(page->layout());
    const int end = layout->count() - 1;
    layout->insertLayout(end, centred(m_emptyError));
    layout->insertSpacing(end + 1, 6);
    layout->insertWidget(end + 2, m_emptyReadButton, 0, Qt::AlignHCenter);
    return page;
}

void DeviceAppsView::updateState()
{
    const bool hasDevice = !m_model->devices().isEmpty();
    const bool loading = m_model->loadingInstalledApps();
    m_readButton->setEnabled(hasDevice && !loading);
    m_emptyReadButton->setEnabled(hasDevice);
    m_emptyTitle->setText(hasDevice ? QStringLiteral("Список ещё не прочитан") : QStringLiteral("Подключи iPhone"));
    const std::optional<QString> error = m_model->installedAppsError();
    m_emptyError->setText(error.value_or(QString()));
    m_emptyError->setVisible(error.has_value());

    if (loading)
        m_pages->setCurrentWidget(m_loadingPage);
    else if (!m_model->installedApps().isEmpty())
        m_pages->setCurrentWidget(m_list);
    else
        m_pages->setCurrentWidget(m_emptyPage);
}

void DeviceAppsView::controlClicked(const QModelIndex& index, const QString& id, const QRect& anchor)
{
    if (!index.isValid())
        return;
    const InstalledApp& app = m_rows->app(index.row());
    if (!app.adamID)
        return;
    if (id == DeviceAppRowDelegate::downloadControl)
        m_model->download(DeviceAppsListModel::target(app), std::nullopt); // runs on by itself
    else if (id == DeviceAppRowDelegate::installControl && !m_model->devices().isEmpty())
        m_model->installOnDevice(DeviceAppsListModel::target(app), std::nullopt);
    else if (id == DeviceAppRowDelegate::cancelControl)
        m_model->cancel(*app.adamID);
    else if (id == DeviceAppRowDelegate::menuControl)
        showMenu(index.row(), anchor);
}

void DeviceAppsView::showMenu(int row, const QRect& anchor)
{
    const InstalledApp app = m_rows->app(row);
    const AppModel::Target target = DeviceAppsListModel::target(app);
    auto* menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("deviceAppMenu"));
    menu->setAttribute(Qt::WA_DeleteOnClose);

    QAction* install = menu->addAction(QStringLiteral("Скачать и поставить на выбранный iPhone"), m_model,
                                       [model = m_model, target] { model->installOnDevice(target, std::nullopt); });
    install->setObjectName(QStringLiteral("installAction"));
    install->setEnabled(!m_model->devices().isEmpty());

    QAction* versions =
        menu->addAction(QStringLiteral("Выбрать версию…"), m_navigation, [navigation = m_navigation, target] {
            navigation->setVersionRequest(AppModel::VersionRequest{target});
        });
    versions->setObjectName(QStringLiteral("versionsAction"));
    menu->addSeparator();

    const QString appID = QString::number(target.adamID);
    QAction* copyID = menu->addAction(QStringLiteral("Скопировать App ID"), menu,
                                      [appID] { QGuiApplication::clipboard()->setText(appID); });
    copyID->setObjectName(QStringLiteral("copyAppIDAction"));
    QAction* copyBundle = menu->addAction(QStringLiteral("Скопировать bundle id"), menu, [bundleID = app.bundleID] {
        QGuiApplication::clipboard()->setText(bundleID);
    });
    copyBundle->setObjectName(QStringLiteral("copyBundleIDAction"));
    menu->popup(anchor.bottomLeft());
}
