#pragma once

#include "model/AppModel.h"

#include <QCoroTask>
#include <QDialog>
#include <QPointer>

#include <optional>

class ProminentButton;
class QLabel;
class QListView;
class QPushButton;
class QStackedWidget;
class VersionListModel;

/// Lists the historical versions of one app and downloads or installs the chosen one.
class VersionSheet : public QDialog {
    Q_OBJECT
public:
    VersionSheet(AppModel* model, AppModel::Target target, QWidget* parent = nullptr);

    const AppModel::Target& target() const { return m_target; }
    /// The chosen version, if any.
    std::optional<AppVersion> selected() const;

protected:
    void showEvent(QShowEvent* event) override;

private:
    static QCoro::Task<> load(QPointer<VersionSheet> sheet, AppModel* model, AppModel::Target target);
    void showVersions(QList<AppVersion> versions);
    void selectionChanged();
    void refreshDevice();
    void refreshButtons();

    AppModel* m_model;
    AppModel::Target m_target;
    std::optional<QString> m_selection;
    bool m_started = false;

    VersionListModel* m_versions;
    QLabel* m_deviceLine;
    QStackedWidget* m_body;
    QWidget* m_loadingPage;
    QLabel* m_empty;
    QListView* m_list;
    QPushButton* m_close;
    QPushButton* m_download;
    ProminentButton* m_install;
};
