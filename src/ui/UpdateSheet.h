#pragma once

#include <QDialog>

class AppModel;
class ProminentButton;
class QLabel;
class QProgressBar;
class QPushButton;

/// The update offer and whatever the update is doing now: the check, the download, the swap or
/// its failure, with the buttons that fit. Reads the model only; its content follows the model
/// while it is open.
class UpdateSheet : public QDialog {
    Q_OBJECT
public:
    static constexpr int sheetWidth = 480;

    explicit UpdateSheet(AppModel* model, QWidget* parent = nullptr);

    /// A result left on screen is cleared however the sheet is closed, so the banner can return.
    void reject() override;

private:
    void refresh();
    void openPage();

    AppModel* m_model;
    QLabel* m_title;
    QLabel* m_subtitle;
    QWidget* m_notesBlock;
    QLabel* m_notes;
    QWidget* m_checking;
    QWidget* m_downloading;
    QProgressBar* m_progress;
    QWidget* m_installing;
    QLabel* m_error;
    QLabel* m_pageLink;
    QPushButton* m_close;
    ProminentButton* m_install;
    // A build without an update key offers the release page instead of installing.
    QLabel* m_unsignedNote;
    ProminentButton* m_openRelease;
    QPushButton* m_retry;
};
