#pragma once

#include "model/AppModel.h"
#include "ui/SidebarSection.h"

#include <QObject>

#include <optional>

/// What the main window shows: the section and which sheet is open. One per signed-in session,
/// so signing in again starts from the first section with nothing open.
class Navigation : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    SidebarSection section() const { return m_section; }
    const std::optional<AppModel::VersionRequest>& versionRequest() const { return m_versionRequest; }
    bool showAppIDSheet() const { return m_showAppIDSheet; }
    bool showUpdateSheet() const { return m_showUpdateSheet; }

    void setSection(SidebarSection section);
    void setVersionRequest(std::optional<AppModel::VersionRequest> request);
    void setShowAppIDSheet(bool show);
    void setShowUpdateSheet(bool show);

Q_SIGNALS:
    void sectionChanged();
    void versionRequestChanged();
    void showAppIDSheetChanged();
    void showUpdateSheetChanged();

private:
    SidebarSection m_section = SidebarSection::all;
    std::optional<AppModel::VersionRequest> m_versionRequest;
    bool m_showAppIDSheet = false;
    bool m_showUpdateSheet = false;
};
