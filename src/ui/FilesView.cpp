#include "ui/FilesView.h"

#include "model/AppModel.h"
#include "platform/Platform.h"
#include "process/Tools.h"
#include "ui/EmptyState.h"
#include "ui/FileRowDelegate.h"
#include "ui/FilesListModel.h"
#include "ui/Icons.h"
#include "ui/PathOffer.h"

#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QShowEvent>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace {

std::optional<QString> chooseIpa(QWidget* parent)
{
    const QString path = QFileDialog::getOpenFileName(parent, QStringLiteral("Поставить файл с диска"),
                                                      QDir::homePath(), QStringLiteral("IPA (*.ipa)"));
    if (path.isEmpty())
        return std::nullopt;
    return path;
}

} // namespace

FilesView::FilesView(AppModel* model, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
    , m_files(new FilesListModel(this))
    , m_chooseFile(chooseIpa)
{
    setObjectName(QStringLiteral("filesView"));

    m_list = new QListView(this);
    m_list->setObjectName(QStringLiteral("filesList"));
    m_list->setModel(m_files);
    m_delegate = new FileRowDelegate(m_list, [model] { return !model->devices().isEmpty(); });
    m_list->setItemDelegate(m_delegate);
    m_delegate->setInfo([model](const QString& path) { return model->ipaInfo(path); });
    m_list->setSelectionMode(QAbstractItemView::NoSelection);
    m_list->setUniformItemSizes(true);
    m_list->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    m_list->setFrameShape(QFrame::NoFrame);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);

    m_pages = new QStackedWidget(this);
    m_pages->setObjectName(QStringLiteral("filesPages"));
    m_emptyPage = makeEmptyPage();
    m_pages->addWidget(m_list);
    m_pages->addWidget(m_emptyPage);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(makeHeader());
    layout->addWidget(m_pages, 1);

    connect(m_delegate, &RowDelegate::controlClicked, this, &FilesView::controlClicked);
    connect(m_files, &QAbstractItemModel::modelReset, this, &FilesView::updatePage);
    connect(model, &AppModel::devicesChanged, this, &FilesView::updateDevices);
    connect(model, &AppModel::ipaInfoChanged, m_list->viewport(), qOverload<>(&QWidget::update));
    updateDevices();
    updatePage();
}

QString FilesView::folderText()
{
    if constexpr (Platform::isMacOS())
        return QStringLiteral("Файлы лежат в ~/Library/Application Support/Quorrel/IPA");
    QString folder = QDir::cleanPath(Tools::downloadsDirectory());
    const QString home = QDir::cleanPath(QDir::homePath());
    if (home != QStringLiteral("/") && (folder == home || folder.startsWith(home + QLatin1Char('/'))))
        folder = QLatin1Char('~') + folder.mid(home.size());
    return QStringLiteral("Файлы лежат в ") + QDir::toNativeSeparators(folder);
}

QWidget* FilesView::makeHeader()
{
    auto* header = new QWidget(this);
    header->setObjectName(QStringLiteral("filesHeader"));
    auto* layout = new QHBoxLayout(header);
    layout->setContentsMargins(12, 10, 12, 10);
    layout->setSpacing(8);

    m_importButton =
        new QPushButton(Icons::icon(QStringLiteral("plus")), QStringLiteral("Поставить файл с диска"), header);
    m_importButton->setObjectName(QStringLiteral("installFromDiskButton"));
    connect(m_importButton, &QPushButton::clicked, this, &FilesView::importFile);
    layout->addWidget(m_importButton);
    layout->addStretch();

    auto* refresh = new QPushButton(Icons::icon(QStringLiteral("arrow.clockwise")), QStringLiteral("Обновить"), header);
    refresh->setObjectName(QStringLiteral("refreshFilesButton"));
    connect(refresh, &QPushButton::clicked, this, &FilesView::reload);
    layout->addWidget(refresh);
    return header;
}

QWidget* FilesView::makeEmptyPage()
{
    QWidget* page =
        EmptyState::make(QStringLiteral("shippingbox"), QStringLiteral("Скачанных IPA пока нет"), folderText(), this);
    page->setObjectName(QStringLiteral("filesEmpty"));
    if (auto* folder = page->findChild<QLabel*>(QStringLiteral("emptyDetail")))
        folder->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return page;
}

void FilesView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!event->spontaneous())
        reload();
}

void FilesView::reload()
{
    m_files->setFiles(m_model->localFiles());
    m_model->inspectFiles(m_files->files());
    updatePage();
}

void FilesView::updatePage()
{
    m_pages->setCurrentWidget(m_files->rowCount() > 0 ? static_cast<QWidget*>(m_list) : m_emptyPage);
}

void FilesView::updateDevices()
{
    const bool canInstall = !m_model->devices().isEmpty();
    m_importButton->setEnabled(canInstall);
    m_importButton->setToolTip(canInstall ? QString() : QStringLiteral("iPhone не подключён"));
    m_list->viewport()->update();
}

void FilesView::importFile()
{
    if (m_importing || m_model->devices().isEmpty())
        return;
    m_importing = true;
    const QPointer<FilesView> self(this);
    const std::optional<QString> path = m_chooseFile ? m_chooseFile(this) : std::nullopt;
    // The dialog runs its own event loop, long enough for the window to have gone.
    if (!self)
        return;
    m_importing = false;
    if (path && !path->isEmpty())
        m_model->installLocalFile(*path); // runs on by itself; the list stays as it is
}

void FilesView::controlClicked(const QModelIndex& index, const QString& id, const QRect& anchor)
{
    if (!index.isValid())
        return;
    const QString path = index.data(FilesListModel::PathRole).toString();
    if (id == FileRowDelegate::installControl) {
        if (!m_model->devices().isEmpty())
            m_model->installLocalFile(path);
    } else if (id == FileRowDelegate::menuControl) {
        showMenu(path, anchor);
    }
}

void FilesView::showMenu(const QString& path, const QRect& anchor)
{
    auto* menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("fileMenu"));
    menu->setAttribute(Qt::WA_DeleteOnClose);
    const QString revealText =
        Platform::isMacOS() ? QStringLiteral("Показать в Finder") : QStringLiteral("Показать в папке");
    QAction* reveal = menu->addAction(revealText, this, [this, path] {
        if (!m_model->revealInFinder(path))
            PathOffer::show(path, this);
    });
    reveal->setObjectName(QStringLiteral("revealAction"));
    QAction* remove = menu->addAction(QStringLiteral("Удалить"), this, [this, path] {
        m_model->deleteFile(path);
        reload();
    });
    remove->setObjectName(QStringLiteral("deleteAction"));
    menu->popup(anchor.bottomLeft());
}
