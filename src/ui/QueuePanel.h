#pragma once

#include <QWidget>

class AppModel;
class QLabel;
class QProgressBar;
class QPushButton;

/// The archive queue in the sidebar's foot: how far it is, why it waits, pause and cancel.
/// Hidden while nothing is queued.
class QueuePanel : public QWidget {
    Q_OBJECT
public:
    explicit QueuePanel(AppModel* model, QWidget* parent = nullptr);

    /// "Очередь: 3 из 41".
    static QString progressText(int finished, int running, int total);

private:
    void refresh();

    AppModel* m_model;
    QLabel* m_title;
    QProgressBar* m_progress;
    QLabel* m_status;
    QPushButton* m_pause;
    QPushButton* m_cancel;
};
