#include "ui/MainView.h"

#include "model/AppModel.h"
#include "ui/AccountFooter.h"
#include "ui/AppIdSheet.h"
#include "ui/ArtworkCache.h"
#include "ui/DeviceAppsView.h"
#include "ui/DeviceBar.h"
#include "ui/FilesView.h"
#include "ui/LibraryView.h"
#include "ui/LogView.h"
#include "ui/Navigation.h"
#include "ui/SidebarDelegate.h"
#include "ui/SidebarListModel.h"
#include "ui/UpdateBanner.h"
#include "ui/UpdateSheet.h"
#include "ui/VersionSheet.h"

#include <QFrame>
#include <QListView>
#include <QSplitter>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace {

constexpr int sidebarMinimum = 190;
constexpr int sidebarIdeal = 210;
constexpr int sidebarMaximum = 260;

QFrame* divider(QWidget* parent)
{
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Plain);
    line->setForegroundRole(QPalette::Mid);
    line->setFixedHeight(1);
    return line;
}

} // namespace

QList<SidebarSection> MainView::availableSections()
{
    return Sections::allCases();
}

MainView::MainView(AppModel* model, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
    , m_navigation(new Navigation(this))
    , m_artwork(new ArtworkCache(this))
    , m_sections(new SidebarListModel(model, availableSections(), this))
    , m_sidebar(new QListView(this))
    , m_detailLayout(new QVBoxLayout)
    , m_content(new QStackedWidget(this))
{
    setObjectName(QStringLiteral("mainView"));

    auto* sidebarPane = new QWidget(this);
    sidebarPane->setObjectName(QStringLiteral("sidebarPane"));
    sidebarPane->setMinimumWidth(sidebarMinimum);
    sidebarPane->setMaximumWidth(sidebarMaximum);
    sidebarPane->setAutoFillBackground(true);
    QPalette sidebarPalette = sidebarPane->palette();
    sidebarPalette.setColor(QPalette::Window, sidebarPalette.color(QPalette::Window).darker(104));
    sidebarPalette.setColor(QPalette::Base, sidebarPalette.color(QPalette::Window));
    sidebarPane->setPalette(sidebarPalette);
    auto* sidebarLayout = new QVBoxLayout(sidebarPane);
    sidebarLayout->setContentsMargins(0, 6, 0, 0);
    sidebarLayout->setSpacing(0);
    m_sidebar->setObjectName(QStringLiteral("sidebar"));
    m_sidebar->setModel(m_sections);
    m_sidebar->setItemDelegate(new SidebarDelegate(m_sidebar));
    m_sidebar->setFrameShape(QFrame::NoFrame);
    m_sidebar->setSelectionMode(QAbstractItemView::SingleSelection);
    m_sidebar->setMouseTracking(true);
    m_sidebar->setPalette(sidebarPalette);
    sidebarLayout->addWidget(m_sidebar, 1);
    auto* footer = new AccountFooter(model, sidebarPane);
    sidebarLayout->addWidget(footer);

    auto* detail = new QWidget(this);
    detail->setObjectName(QStringLiteral("detail"));
    detail->setLayout(m_detailLayout);
    m_detailLayout->setContentsMargins(0, 0, 0, 0);
    m_detailLayout->setSpacing(0);
    m_detailLayout->addWidget(new UpdateBanner(model, m_navigation, detail));
    m_detailLayout->addWidget(new DeviceBar(model, detail));
    m_detailLayout->addWidget(divider(detail));
    m_detailLayout->addWidget(m_content, 1);

    auto* splitter = new QSplitter(Qt::Horizontal, this);
    splitter->setChildrenCollapsible(false);
    splitter->addWidget(sidebarPane);
    splitter->addWidget(detail);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({sidebarIdeal, 830});
    // Wider than ideal, within the maximum, when that keeps the account's name and e-mail whole.
    const auto fitSidebar = [splitter, footer] {
        const int wanted = qBound(sidebarIdeal, footer->wholeWidth(), sidebarMaximum);
        const QList<int> sizes = splitter->sizes();
        if (sizes.size() != 2 || sizes.first() >= wanted)
            return;
        const int total = sizes.first() + sizes.last();
        splitter->setSizes({wanted, qMax(1, total - wanted)});
    };
    connect(model, &AppModel::accountChanged, splitter, fitSidebar);
    fitSidebar();
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(splitter);

    connect(m_sidebar->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        const QModelIndexList selected = m_sidebar->selectionModel()->selectedIndexes();
        m_navigation->setSection(selected.isEmpty()
                                     ? SidebarSection::all
                                     : SidebarSection(selected.first().data(SidebarListModel::SectionRole).toInt()));
        if (selected.isEmpty())
            showSection();
    });
    connect(m_navigation, &Navigation::sectionChanged, this, &MainView::showSection);
    connect(m_navigation, &Navigation::showAppIDSheetChanged, this, &MainView::presentAppIDSheet);
    connect(m_navigation, &Navigation::versionRequestChanged, this, &MainView::presentVersionSheet);
    connect(m_navigation, &Navigation::showUpdateSheetChanged, this, &MainView::presentUpdateSheet);
    // A check the user asked for, or an installation that failed, shows its result unasked.
    connect(model, &AppModel::updateStateChanged, this, [this] {
        const AppModel::UpdateState::Kind kind = m_model->updateState().kind;
        if (kind == AppModel::UpdateState::Kind::failed || kind == AppModel::UpdateState::Kind::upToDate)
            m_navigation->setShowUpdateSheet(true);
    });
    // An install that would not run on the phone offers the app's older versions instead.
    connect(model, &AppModel::olderVersionSuggested, m_navigation, [this](const AppModel::Target& target) {
        m_navigation->setVersionRequest(AppModel::VersionRequest{target});
    });
    showSection();
}

QWidget* MainView::currentView() const
{
    return m_content->currentWidget();
}

QWidget* MainView::makeView(SidebarSection section)
{
    switch (section) {
    case SidebarSection::all:
        return new LibraryView(m_model, m_navigation, false, m_artwork, m_content);
    case SidebarSection::gone:
        return new LibraryView(m_model, m_navigation, true, m_artwork, m_content);
    case SidebarSection::device:
        return new DeviceAppsView(m_model, m_navigation, m_artwork, m_content);
    case SidebarSection::files:
        return new FilesView(m_model, m_content);
    case SidebarSection::log:
        return new LogView(m_model, m_content);
    }
    return nullptr;
}

void MainView::showSection()
{
    const SidebarSection section = m_navigation->section();
    const QModelIndex row = m_sections->indexOf(section);
    if (row.isValid() && !m_sidebar->selectionModel()->isSelected(row))
        m_sidebar->selectionModel()->select(row, QItemSelectionModel::ClearAndSelect);
    QWidget* view = m_views.value(section);
    if (!view) {
        view = makeView(section);
        if (!view)
            return;
        m_views.insert(section, view);
        m_content->addWidget(view);
    }
    m_content->setCurrentWidget(view);
    Q_EMIT titleChanged(Sections::title(section));
}

void MainView::presentAppIDSheet()
{
    if (!m_navigation->showAppIDSheet()) {
        if (m_appIDSheet)
            m_appIDSheet->reject();
        return;
    }
    if (m_appIDSheet)
        return;
    m_appIDSheet = new AppIdSheet(m_model, this);
    m_appIDSheet->setObjectName(QStringLiteral("appIdSheet"));
    m_appIDSheet->setAttribute(Qt::WA_DeleteOnClose);
    connect(m_appIDSheet, &QDialog::finished, m_navigation,
            [navigation = m_navigation] { navigation->setShowAppIDSheet(false); });
    m_appIDSheet->open();
}

void MainView::presentVersionSheet()
{
    const std::optional<AppModel::VersionRequest> request = m_navigation->versionRequest();
    if (m_versionSheet) {
        // Another app's versions replace the open list.
        m_versionSheet->disconnect(m_navigation);
        m_versionSheet->reject();
    }
    if (!request)
        return;
    m_versionSheet = new VersionSheet(m_model, request->target, this);
    m_versionSheet->setObjectName(QStringLiteral("versionSheet"));
    m_versionSheet->setAttribute(Qt::WA_DeleteOnClose);
    connect(m_versionSheet, &QDialog::finished, m_navigation, [navigation = m_navigation, id = request->id()] {
        if (navigation->versionRequest() && navigation->versionRequest()->id() == id)
            navigation->setVersionRequest(std::nullopt);
    });
    m_versionSheet->open();
}

void MainView::presentUpdateSheet()
{
    if (!m_navigation->showUpdateSheet()) {
        if (m_updateSheet)
            m_updateSheet->reject();
        return;
    }
    if (m_updateSheet)
        return;
    m_updateSheet = new UpdateSheet(m_model, this);
    m_updateSheet->setAttribute(Qt::WA_DeleteOnClose);
    connect(m_updateSheet, &QDialog::finished, m_navigation,
            [navigation = m_navigation] { navigation->setShowUpdateSheet(false); });
    m_updateSheet->open();
}
