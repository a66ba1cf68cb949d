#include "ui/MainWindow.h"

#include "model/AppModel.h"
#include "ui/LogView.h"
#include "ui/Spinner.h"

#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace {

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
    , m_contentPage(new LogView(model, m_pages))
{
    setObjectName(QStringLiteral("mainWindow"));
    setWindowTitle(QStringLiteral("Quorrel"));
    setMinimumSize(880, 560);
    resize(1040, 700);
    m_pages->addWidget(m_checkingPage);
    m_pages->addWidget(m_contentPage);
    setCentralWidget(m_pages);

    connect(model, &AppModel::stageChanged, this, &MainWindow::showStage);
    connect(model, &AppModel::alertChanged, this, &MainWindow::presentAlert);
    showStage();
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

void MainWindow::showStage()
{
    const bool checking = m_model->stage() == AppModel::Stage::checking;
    m_pages->setCurrentWidget(checking ? m_checkingPage : m_contentPage);
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
    m_alertBox->setWindowModality(Qt::WindowModal);
    connect(m_alertBox, &QMessageBox::finished, this, [this] {
        // Finishing only hides the box; a later alert gets a fresh one.
        m_alertBox->deleteLater();
        m_alertBox.clear();
        m_model->setAlert(std::nullopt);
    });
    m_alertBox->open();
}
