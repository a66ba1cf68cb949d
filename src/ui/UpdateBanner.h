#pragma once

#include <QWidget>

class AppModel;
class ElidedLabel;
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

private:
    void refresh();

    AppModel* m_model;
    Navigation* m_navigation;
    QLabel* m_title;
    ElidedLabel* m_detail;
};
