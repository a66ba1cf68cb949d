#pragma once

#include <QWidget>

class AppModel;
class Navigation;
class QLabel;

/// The strip above the detail area while a newer build is on offer; both its buttons open the
/// update sheet, which alone starts the installation.
class UpdateBanner : public QWidget {
    Q_OBJECT
public:
    UpdateBanner(AppModel* model, Navigation* navigation, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void refresh();
    void elide();

    AppModel* m_model;
    Navigation* m_navigation;
    QLabel* m_title;
    QLabel* m_detail;
};
