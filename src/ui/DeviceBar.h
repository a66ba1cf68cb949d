#pragma once

#include <QWidget>

class AppModel;
class QComboBox;
class QLabel;
class QToolButton;

/// The strip above every section: which phone is connected, a picker when there are several,
/// why none is listed when there is none, and a manual refresh.
class DeviceBar : public QWidget {
    Q_OBJECT
public:
    explicit DeviceBar(AppModel* model, QWidget* parent = nullptr);

private:
    void updateDevices();
    void updateSelection();
    void pickerChanged(int index);

    AppModel* m_model;
    QLabel* m_icon;
    QWidget* m_single;
    QLabel* m_name;
    QLabel* m_subtitle;
    QWidget* m_picker;
    QComboBox* m_combo;
    QWidget* m_none;
    QLabel* m_error;
    QLabel* m_attention;
    QToolButton* m_refresh;
};
