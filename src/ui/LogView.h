#pragma once

#include <QWidget>

class AppModel;
class QDateTime;
class QListView;
class LogListModel;

/// The run's log, oldest first, following each new entry; entries can be selected and copied.
class LogView : public QWidget {
    Q_OBJECT
public:
    explicit LogView(AppModel* model, QWidget* parent = nullptr);

    QListView* list() const { return m_list; }

    /// The time of day with seconds in the locale's own style, without its time zone.
    static QString timeText(const QDateTime& date);

private:
    void copySelection();

    QListView* m_list;
    LogListModel* m_entries;
};
