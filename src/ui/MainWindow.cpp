#include "ui/MainWindow.h"

#include "BuildConfig.h"
#include "model/AppModel.h"
#include "platform/Platform.h"
#include "ui/Icons.h"
#include "ui/MainView.h"
#include "ui/Navigation.h"
#include "ui/SearchField.h"
#include "ui/QuitQuestion.h"
#include "ui/SignInView.h"
#include "ui/Spinner.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QStackedWidget>
#include <QToolBar>
#include <QVBoxLayout>

namespace {

const QSize designedMinimum(880, 560);
const QString geometryKey = QStringLiteral("window/geometry");

QWidget* makeCheckingPage(QWidget* parent)
{
    auto* page = new QWidget(parent);
    page->setObjectName(QStringLiteral("checkingPage"));
    auto* layout = new QVBoxLayout(page);
    layout->setSpacing(12);
    layout->addStretch();
    auto* spinner = new Spinner(page);
    layout->addWidget(spinner, 0, Qt::AlignHCenter);
    auto* label = new QLabel(QStringLiteral("Проверяю аккаунт…"), page);
    label->setObjectName(QStringLiteral("checkingLabel"));
    label->setForegroundRole(QPalette::PlaceholderText);
    layout->addWidget(label, 0, Qt::AlignHCenter);
    layout->addStretch();
    return page;
}

} // namespace

MainWindow::MainWindow(AppModel* model, QWidget* parent)
    : QMainWindow(parent)
    , m_model(model)
    , m_pages(new QStackedWidget(this))
    , m_checkingPage(makeCheckingPage(m_pages))
    , m_toolBar(new QToolBar(this))
    , m_appIDAction(new QAction(Icons::icon(QStringLiteral("number")), QStringLiteral("По App ID"), this))
{
    setObjectName(QStringLiteral("mainWindow"));
    setWindowTitle(applicationTitle());
    setMinimumSize(designedMinimum);
    resize(1040, 700);
    m_pages->addWidget(m_checkingPage);
    setCentralWidget(m_pages);

    m_toolBar->setObjectName(QStringLiteral("toolBar"));
    m_toolBar->setMovable(false);
    m_toolBar->setFloatable(false);
    m_toolBar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    m_toolBar->setIconSize(QSize(16, 16));
    m_toolBar->toggleViewAction()->setVisible(false);
    m_appIDAction->setObjectName(QStringLiteral("appIDAction"));
    m_appIDAction->setToolTip(QStringLiteral("Поставить приложение, зная только его номер в App Store"));
    connect(m_appIDAction, &QAction::triggered, this, [this] {
        if (m_mainView)
            m_mainView->navigation()->setShowAppIDSheet(true);
    });
    m_toolBar->addAction(m_appIDAction);
    addToolBar(Qt::TopToolBarArea, m_toolBar);
    buildMenus();

    connect(model, &AppModel::stageChanged, this, &MainWindow::showStage);
    connect(model, &AppModel::alertChanged, this, &MainWindow::presentAlert);
    showStage();
}

MainView* MainWindow::mainView() const
{
    return m_mainView;
}

SignInView* MainWindow::signInView() const
{
    return m_signInView;
}

void MainWindow::buildMenus()
{
    // No "new window" anywhere: the application is one window over one model.
    QMenu* file = menuBar()->addMenu(QStringLiteral("Файл"));
    QAction* quit = file->addAction(QStringLiteral("Выйти из Quorrel"), this, &QWidget::close);
    quit->setShortcut(QKeySequence::Quit);
    quit->setMenuRole(QAction::QuitRole);

    QMenu* view = menuBar()->addMenu(QStringLiteral("Вид"));
    m_findAction = view->addAction(QStringLiteral("Найти"), this, &MainWindow::focusSearch);
    m_findAction->setObjectName(QStringLiteral("findAction"));
    m_findAction->setShortcut(QKeySequence::Find);
    m_syncAction = view->addAction(QStringLiteral("Обновить историю загрузок"));
    m_syncAction->setObjectName(QStringLiteral("syncAction"));
    // Qt reads Ctrl as Command on macOS.
    m_syncAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
    m_syncAction->setShortcutContext(Qt::ApplicationShortcut);
    connect(m_syncAction, &QAction::triggered, m_model, [model = m_model] { model->syncPurchases(true); });

    // On macOS Qt moves both into the application menu, after About as there.
    QMenu* help = menuBar()->addMenu(QStringLiteral("Справка"));
    QAction* about = help->addAction(QStringLiteral("О Quorrel"), this, &MainWindow::showAbout);
    about->setObjectName(QStringLiteral("aboutAction"));
    about->setMenuRole(QAction::AboutRole);
    m_checkUpdatesAction = help->addAction(QStringLiteral("Проверить обновления…"));
    m_checkUpdatesAction->setObjectName(QStringLiteral("checkUpdatesAction"));
    m_checkUpdatesAction->setMenuRole(QAction::ApplicationSpecificRole);
    connect(m_checkUpdatesAction, &QAction::triggered, m_model, [model = m_model] { model->checkForUpdates(true); });
    connect(m_model, &AppModel::updateStateChanged, m_checkUpdatesAction,
            [this] { m_checkUpdatesAction->setEnabled(!m_model->isUpdating()); });
}

void MainWindow::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (m_bootstrapped)
        return;
    m_bootstrapped = true;
    // The model outlives the window and catches everything itself, so the task may run detached.
    m_model->bootstrap();
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    const QuitQuestion::Running running = QuitQuestion::running(*m_model);
    if (m_quitAnyway || !running.any()) {
        QMainWindow::closeEvent(event);
        return;
    }
    event->ignore();
    if (m_quitQuestion)
        return;
    m_quitQuestion = QuitQuestion::make(running, this);
    connect(m_quitQuestion, &QMessageBox::finished, this, [this] {
        m_quitQuestion->deleteLater();
        m_quitQuestion.clear();
    });
    connect(m_quitQuestion, &QMessageBox::buttonClicked, this, [this](QAbstractButton* button) {
        if (m_quitQuestion->buttonRole(button) != QMessageBox::AcceptRole)
            return;
        m_quitAnyway = true;
        close();
    });
    m_quitQuestion->open();
}

void MainWindow::showStage()
{
    const AppModel::Stage stage = m_model->stage();
    // Each stage gets a fresh view: a new sign-in starts with an empty form, a new session with
    // the first section and no sheet open.
    if (stage != AppModel::Stage::signedOut && m_signInView)
        m_signInView->deleteLater();
    if (stage != AppModel::Stage::signedIn && m_mainView)
        m_mainView->deleteLater();

    switch (stage) {
    case AppModel::Stage::checking:
        m_pages->setCurrentWidget(m_checkingPage);
        setWindowTitle(applicationTitle());
        break;
    case AppModel::Stage::signedOut:
        if (!m_signInView) {
            m_signInView = new SignInView(m_model, m_pages);
            m_pages->addWidget(m_signInView);
        }
        m_pages->setCurrentWidget(m_signInView);
        m_signInView->focusFirstField();
        setWindowTitle(applicationTitle());
        break;
    case AppModel::Stage::signedIn:
        if (!m_mainView) {
            m_mainView = new MainView(m_model, m_pages);
            m_pages->addWidget(m_mainView);
            connect(m_mainView, &MainView::titleChanged, this, &QWidget::setWindowTitle);
            setWindowTitle(Sections::title(m_mainView->navigation()->section()));
            m_pages->setCurrentWidget(m_mainView);
            // The rows take the keyboard from the start, so the arrows and Enter work at once.
            if (auto* list = m_mainView->currentView()->findChild<QListView*>())
                list->setFocus();
        }
        m_pages->setCurrentWidget(m_mainView);
        break;
    }
    m_toolBar->setVisible(stage == AppModel::Stage::signedIn);
    m_findAction->setEnabled(stage == AppModel::Stage::signedIn);
    presentAlert();
}

void MainWindow::presentAlert()
{
    const std::optional<QString> alert = m_model->alert();
    if (!alert || m_model->stage() == AppModel::Stage::checking) {
        if (m_alertBox)
            m_alertBox->done(QMessageBox::Close);
        return;
    }
    if (m_alertBox) {
        m_alertBox->setText(*alert);
        return;
    }
    m_alertBox = new QMessageBox(this);
    m_alertBox->setObjectName(QStringLiteral("alert"));
    m_alertBox->setWindowTitle(QStringLiteral("Quorrel"));
    m_alertBox->setText(*alert);
    m_alertBox->setIcon(QMessageBox::Warning);
    m_alertBox->addButton(QStringLiteral("Ясно"), QMessageBox::RejectRole)
        ->setObjectName(QStringLiteral("alertDismiss"));
    // A sheet of this window: it cannot open elsewhere and fall behind the window it blocks.
    m_alertBox->setWindowFlag(Qt::Sheet);
    m_alertBox->setWindowModality(Qt::WindowModal);
    connect(m_alertBox, &QMessageBox::finished, this, [this] {
        // Finishing only hides the box; a later alert gets a fresh one.
        m_alertBox->deleteLater();
        m_alertBox.clear();
        m_model->setAlert(std::nullopt);
    });
    m_alertBox->open();
}

QString MainWindow::applicationTitle()
{
    const QString display = QGuiApplication::applicationDisplayName();
    // Without a display name of ours (tests, tools) Qt offers the executable's name.
    return display.startsWith(QStringLiteral("Quorrel")) ? display : QStringLiteral("Quorrel");
}

void MainWindow::focusSearch()
{
    if (!m_mainView)
        return;
    if (QLineEdit* field = SearchField::of(m_mainView->currentView())) {
        field->setFocus(Qt::ShortcutFocusReason);
        field->selectAll();
    }
}

void MainWindow::showAbout()
{
    const QUrl site = QUrl(QString::fromUtf8(BuildConfig::updateManifestUrl)).adjusted(QUrl::RemovePath);
    const QString text =
        QStringLiteral("<h3>Quorrel</h3>"
                       "<p>%1, сборка %2</p>"
                       "<p>Скачивает из App Store и ставит на iPhone приложения, которых там больше нет, "
                       "если твой Apple Account их когда-то получал.</p>"
                       "<p><a href=\"%3\">%4</a><br>"
                       "<a href=\"https://github.com/majd/ipatool\">ipatool</a> · "
                       "<a href=\"https://libimobiledevice.org\">libimobiledevice</a></p>"
                       "<p><small>Значки нарисованы для Quorrel и переданы в общественное достояние "
                       "(<a href=\"https://creativecommons.org/publicdomain/zero/1.0/\">CC0 1.0</a>).</small></p>")
            .arg(QStringLiteral("Версия ") + QString::fromUtf8(BuildConfig::version),
                 QString::fromUtf8(BuildConfig::buildNumber), site.toString(), site.host());
    auto* box = new QMessageBox(this);
    box->setObjectName(QStringLiteral("aboutBox"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowTitle(QStringLiteral("О Quorrel"));
    box->setIconPixmap(QIcon(QStringLiteral(":/AppIcon.svg")).pixmap(64, 64));
    box->setTextFormat(Qt::RichText);
    box->setTextInteractionFlags(Qt::TextBrowserInteraction);
    box->setText(text);
    box->addButton(QStringLiteral("Закрыть"), QMessageBox::AcceptRole);
    box->setWindowFlag(Qt::Sheet);
    box->setWindowModality(Qt::WindowModal);
    // Wide enough for its title, which a narrow message box cuts.
    box->setStyleSheet(QStringLiteral("QLabel#qt_msgbox_label { min-width: 360px; }"));
    box->open();
}

void MainWindow::restoreWindowGeometry()
{
    const QByteArray saved = Platform::preferences()->value(geometryKey).toByteArray();
    if (!saved.isEmpty())
        restoreGeometry(saved);
    fitToScreen();
    connect(qApp, &QCoreApplication::aboutToQuit, this, &MainWindow::saveWindowGeometry, Qt::UniqueConnection);
}

void MainWindow::saveWindowGeometry() const
{
    Platform::preferences()->setValue(geometryKey, saveGeometry());
}

void MainWindow::fitToScreen()
{
    const QScreen* screen = this->screen();
    if (!screen)
        return;
    const QRect available = screen->availableGeometry();
    // The frame is known only once the window manager has framed the window.
    const QSize frame = frameGeometry().size() - size();
    const QSize room = (available.size() - frame).expandedTo(QSize(1, 1));
    setMinimumSize(designedMinimum.boundedTo(room));
    resize(size().boundedTo(room));
    if (!testAttribute(Qt::WA_Moved))
        return;
    const QRect outer = frameGeometry();
    move(qBound(available.left(), outer.left(), available.right() + 1 - outer.width()),
         qBound(available.top(), outer.top(), available.bottom() + 1 - outer.height()));
}
