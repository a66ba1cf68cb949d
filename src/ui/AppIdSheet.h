#pragma once

#include <QDialog>

class AppModel;
class ProminentButton;
class QLabel;
class QLineEdit;
class QPushButton;
class Spinner;

/// Downloads or installs an app known only by its App Store number or a store link.
class AppIdSheet : public QDialog {
    Q_OBJECT
public:
    explicit AppIdSheet(AppModel* model, QWidget* parent = nullptr);

private:
    void run(bool install);
    void refresh();
    void showStep();

    AppModel* m_model;
    QLineEdit* m_text;
    QLabel* m_knownCount;
    QLabel* m_error;
    QWidget* m_working;
    Spinner* m_spinner;
    QLabel* m_step;
    QPushButton* m_cancel;
    QPushButton* m_download;
    ProminentButton* m_install;
    // Only a run started here closes the sheet; one left from an earlier sheet only unlocks it.
    bool m_started = false;
    // The App ID this sheet's run is about, for the step it shows.
    qint64 m_running = 0;
};
