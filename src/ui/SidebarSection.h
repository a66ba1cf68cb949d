#pragma once

#include <QList>
#include <QString>

/// The main window's sections, in the order the sidebar lists them.
enum class SidebarSection { all, gone, device, files, log };

namespace Sections {

inline const QList<SidebarSection>& allCases()
{
    static const QList<SidebarSection> cases{SidebarSection::all, SidebarSection::gone, SidebarSection::device,
                                             SidebarSection::files, SidebarSection::log};
    return cases;
}

QString id(SidebarSection section);
QString title(SidebarSection section);
/// The symbol name, resolved to a picture by `Icons`.
QString symbol(SidebarSection section);

} // namespace Sections
