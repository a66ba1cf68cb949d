#include "ui/Navigation.h"

namespace {

template <typename T, typename Signal>
void assign(Navigation* navigation, T& field, T value, Signal changed)
{
    if (field == value)
        return;
    field = std::move(value);
    Q_EMIT(navigation->*changed)();
}

} // namespace

void Navigation::setSection(SidebarSection section)
{
    assign(this, m_section, section, &Navigation::sectionChanged);
}

void Navigation::setVersionRequest(std::optional<AppModel::VersionRequest> request)
{
    assign(this, m_versionRequest, std::move(request), &Navigation::versionRequestChanged);
}

void Navigation::setShowAppIDSheet(bool show)
{
    assign(this, m_showAppIDSheet, show, &Navigation::showAppIDSheetChanged);
}

void Navigation::setShowUpdateSheet(bool show)
{
    assign(this, m_showUpdateSheet, show, &Navigation::showUpdateSheetChanged);
}
