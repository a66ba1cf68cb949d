#pragma once

#include <QWidget>

class AppModel;
class QLabel;
class QProgressBar;
class QToolButton;

/// The bottom of the sidebar: who is signed in, the account menu, and the history sync's
/// progress or when it last finished.
class AccountFooter : public QWidget {
    Q_OBJECT
public:
    explicit AccountFooter(AppModel* model, QWidget* parent = nullptr);

    QToolButton* menuButton() const { return m_menuButton; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void showAccount();
    void elide();
    void showSync();

    AppModel* m_model;
    QWidget* m_accountRow;
    QLabel* m_name;
    QLabel* m_email;
    QToolButton* m_menuButton;
    QProgressBar* m_progress;
    QLabel* m_status;
    QLabel* m_versionLine;
};
