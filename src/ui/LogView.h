#pragma once

#include <QWidget>

class AppModel;
class QListView;
class LogListModel;

/// The run's log, oldest first, following each new entry.
class LogView : public QWidget {
    Q_OBJECT
public:
    explicit LogView(AppModel* model, QWidget* parent = nullptr);

    QListView* list() const { return m_list; }

private:
    QListView* m_list;
    LogListModel* m_entries;
};
