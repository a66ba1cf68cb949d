#pragma once

#include <QWidget>

class AppModel;
class ElidedLabel;
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
    /// The width at which the account's name and e-mail show whole.
    int wholeWidth() const;

private:
    void showAccount();
    void showSync();

    AppModel* m_model;
    QWidget* m_accountRow;
    ElidedLabel* m_name;
    ElidedLabel* m_email;
    QToolButton* m_menuButton;
    QProgressBar* m_progress;
    QLabel* m_status;
    QLabel* m_versionLine;
};
