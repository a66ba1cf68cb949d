#pragma once

#include <QMainWindow>
#include <QPointer>

class AppModel;
class MainView;
class QAction;
class QMessageBox;
class QStackedWidget;
class QToolBar;
class SignInView;

/// The application's one window: the start-up spinner until the model has decided, then the
/// sign-in form or the main view by the sign-in stage; the model's alert shows as a modal message.
class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindow(AppModel* model, QWidget* parent = nullptr);

    MainView* mainView() const;
    SignInView* signInView() const;
    QAction* syncAction() const { return m_syncAction; }
    QAction* appIDAction() const { return m_appIDAction; }
    QAction* checkUpdatesAction() const { return m_checkUpdatesAction; }
    QAction* findAction() const { return m_findAction; }

    /// Takes the size and place the window had when the application last quit, kept on the
    /// screen, and remembers them again at quit.
    void restoreWindowGeometry();
    void saveWindowGeometry() const;
    /// Shrinks and moves the window as needed so all of it is on its screen's free area.
    void fitToScreen();
    /// One "Quorrel" in the title bar: the platform adds the display name after any other title.
    static QString applicationTitle();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void buildMenus();
    void showStage();
    void presentAlert();
    void showAbout();
    void focusSearch();

    AppModel* m_model;
    QStackedWidget* m_pages;
    QWidget* m_checkingPage;
    QPointer<SignInView> m_signInView;
    QPointer<MainView> m_mainView;
    QToolBar* m_toolBar;
    QAction* m_appIDAction;
    QAction* m_syncAction = nullptr;
    QAction* m_checkUpdatesAction = nullptr;
    QAction* m_findAction = nullptr;
    QPointer<QMessageBox> m_alertBox;
    bool m_bootstrapped = false;
    QPointer<QMessageBox> m_quitQuestion;
    bool m_quitAnyway = false;
};
