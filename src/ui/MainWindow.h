#pragma once

#include <QMainWindow>
#include <QPointer>

class AppModel;
class QMessageBox;
class QStackedWidget;

/// The application's one window: the start-up spinner until the model has decided the stage,
/// then the run's log; the model's alert is shown as a modal message.
class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindow(AppModel* model, QWidget* parent = nullptr);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void showStage();
    void presentAlert();

    AppModel* m_model;
    QStackedWidget* m_pages;
    QWidget* m_checkingPage;
    QWidget* m_contentPage;
    QPointer<QMessageBox> m_alertBox;
    bool m_bootstrapped = false;
};
