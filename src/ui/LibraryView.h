#pragma once

#include <QWidget>

class AppModel;
class AppRowDelegate;
class ArtworkCache;
class LibraryListModel;
class Navigation;
class QLabel;
class QLineEdit;
class QListView;
class QProgressBar;
class QPushButton;
class QStackedWidget;

/// The purchase history, all of it or only the apps gone from the store: search, the first
/// fetch's progress, the rows, or why there is nothing to show.
class LibraryView : public QWidget {
    Q_OBJECT
public:
    LibraryView(AppModel* model, Navigation* navigation, bool onlyGone, ArtworkCache* artwork,
                QWidget* parent = nullptr);

    QListView* list() const { return m_list; }
    LibraryListModel* rows() const { return m_rows; }
    AppRowDelegate* delegate() const { return m_delegate; }

private:
    QWidget* makeSaveControl();
    void showState();
    void updateAnimation();
    void keepPlace();
    void restorePlace();
    void controlClicked(const QModelIndex& index, const QString& id, const QRect& anchor);
    void openMenu(int row, const QRect& anchor);

    AppModel* m_model;
    Navigation* m_navigation;
    bool m_onlyGone;
    QLineEdit* m_search;
    QPushButton* m_refresh;
    QStackedWidget* m_states;
    QWidget* m_loading;
    QProgressBar* m_progress;
    QLabel* m_status;
    QListView* m_list;
    QWidget* m_empty;
    QWidget* m_emptyHistory = nullptr; // the whole library's view only
    LibraryListModel* m_rows;
    AppRowDelegate* m_delegate;
    // Across a reset of the rows: the app the user was on, and an app whose row is kept at the
    // same height on screen (that one, or the first row shown).
    qint64 m_currentApp = 0;
    qint64 m_anchorApp = 0;
    int m_anchorTop = 0;
};
