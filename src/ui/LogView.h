#pragma once

#include <QWidget>

#include <functional>
#include <optional>

class AppModel;
class QDateTime;
class QListView;
class QPushButton;
class LogListModel;

/// The run's log, oldest first, following each new entry; entries can be selected and copied,
/// and the log file saved for a report.
class LogView : public QWidget {
    Q_OBJECT
public:
    /// Asks where to save the log; nothing when the user cancels.
    using SaveChooser = std::function<std::optional<QString>(QWidget* parent)>;

    explicit LogView(AppModel* model, QWidget* parent = nullptr);

    void setSaveChooser(SaveChooser chooser) { m_chooseSave = std::move(chooser); }
    QListView* list() const { return m_list; }

    /// The time of day with seconds, in Russian whatever the system's locale.
    static QString timeText(const QDateTime& date);

private:
    void copySelection();
    void saveLog();

    AppModel* m_model;
    QListView* m_list;
    LogListModel* m_entries;
    SaveChooser m_chooseSave;
    QPushButton* m_openFolder = nullptr;
};
