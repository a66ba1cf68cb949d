#pragma once

#include <QWidget>

#include <functional>
#include <optional>

class AppModel;
class FileRowDelegate;
class FilesListModel;
class QLabel;
class QListView;
class QPushButton;
class QStackedWidget;

/// "Скачанные IPA": the .ipa files of the downloads folder as they were when last looked at, each
/// installable, revealable and deletable, and an install of any .ipa picked from disk.
class FilesView : public QWidget {
    Q_OBJECT
public:
    /// Asks the user for one .ipa; nothing when they cancel.
    using FileChooser = std::function<std::optional<QString>(QWidget* parent)>;

    explicit FilesView(AppModel* model, QWidget* parent = nullptr);

    void setFileChooser(FileChooser chooser) { m_chooseFile = std::move(chooser); }
    /// Lists the folder afresh.
    void reload();
    bool isImporting() const { return m_importing; }

    QListView* list() const { return m_list; }
    FileRowDelegate* delegate() const { return m_delegate; }
    /// "Файлы лежат в …" with the real folder, the home folder written as ~.
    static QString folderText();

protected:
    void showEvent(QShowEvent* event) override;

private:
    QWidget* makeHeader();
    QWidget* makeEmptyPage();
    void updateDevices();
    void updatePage();
    void importFile();
    void controlClicked(const QModelIndex& index, const QString& id, const QRect& anchor);
    void showMenu(const QString& path, const QRect& anchor);

    AppModel* m_model;
    FilesListModel* m_files;
    bool m_importing = false;
    FileChooser m_chooseFile;
    QPushButton* m_importButton = nullptr;
    QStackedWidget* m_pages = nullptr;
    QListView* m_list = nullptr;
    FileRowDelegate* m_delegate = nullptr;
    QWidget* m_emptyPage = nullptr;
};
