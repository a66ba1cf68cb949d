#pragma once

#include "ui/SidebarSection.h"

#include <QHash>
#include <QPointer>
#include <QWidget>

class AppModel;
class ArtworkCache;
class Navigation;
class QDialog;
class QListView;
class QStackedWidget;
class QVBoxLayout;
class SidebarListModel;

/// The signed-in window: the sidebar of sections with the account at its foot, and the chosen
/// section's view. Owns the navigation state, so a new sign-in starts afresh.
class MainView : public QWidget {
    Q_OBJECT
public:
    explicit MainView(AppModel* model, QWidget* parent = nullptr);

    Navigation* navigation() const { return m_navigation; }
    QListView* sidebar() const { return m_sidebar; }
    SidebarListModel* sections() const { return m_sections; }
    QWidget* currentView() const;

    /// The sections whose views exist, in the sidebar's order.
    static QList<SidebarSection> availableSections();

Q_SIGNALS:
    void titleChanged(const QString& title);

private:
    QWidget* makeView(SidebarSection section);
    void showSection();
    void presentAppIDSheet();
    void presentVersionSheet();
    void presentUpdateSheet();

    AppModel* m_model;
    Navigation* m_navigation;
    ArtworkCache* m_artwork;
    SidebarListModel* m_sections;
    QListView* m_sidebar;
    QVBoxLayout* m_detailLayout;
    QStackedWidget* m_content;
    QHash<SidebarSection, QWidget*> m_views;
    QPointer<QDialog> m_appIDSheet;
    QPointer<QDialog> m_versionSheet;
    QPointer<QDialog> m_updateSheet;
};
