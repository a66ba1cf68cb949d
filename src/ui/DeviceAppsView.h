#pragma once

#include <QHash>
#include <QUrl>
#include <QWidget>

class AppModel;
class ArtworkCache;
class DeviceAppRowDelegate;
class DeviceAppsFilter;
class DeviceAppsListModel;
class Navigation;
class QLabel;
class QLineEdit;
class QListView;
class QPushButton;
class QStackedWidget;

/// "На этом iPhone": the apps of the chosen phone with their App IDs, searchable and narrowable to
/// those missing from the purchase history, each with its download and install actions.
class DeviceAppsView : public QWidget {
    Q_OBJECT
public:
    /// `artwork` gives the rows the library's icons, for apps the purchase history knows.
    DeviceAppsView(AppModel* model, Navigation* navigation, ArtworkCache* artwork = nullptr, QWidget* parent = nullptr);

    DeviceAppsFilter* filter() const { return m_filter; }
    QListView* list() const { return m_list; }
    DeviceAppRowDelegate* delegate() const { return m_delegate; }

private:
    QWidget* makeHeader();
    QWidget* makeLoadingPage();
    QWidget* makeEmptyPage();
    void updateState();
    void controlClicked(const QModelIndex& index, const QString& id, const QRect& anchor);
    void showMenu(int row, const QRect& anchor);

    AppModel* m_model;
    Navigation* m_navigation;
    DeviceAppsFilter* m_filter;
    DeviceAppsListModel* m_rows;
    QLineEdit* m_search = nullptr;
    QPushButton* m_readButton = nullptr;
    QPushButton* m_unknownToggle = nullptr;
    QStackedWidget* m_pages = nullptr;
    QWidget* m_loadingPage = nullptr;
    QWidget* m_emptyPage = nullptr;
    QListView* m_list = nullptr;
    DeviceAppRowDelegate* m_delegate = nullptr;
    QLabel* m_emptyTitle = nullptr;
    QLabel* m_emptyError = nullptr;
    QPushButton* m_emptyReadButton = nullptr;
    QHash<QString, QUrl> m_artworkByBundle;
};
