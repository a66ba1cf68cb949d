#include "ui/SidebarSection.h"

namespace Sections {

QString id(SidebarSection section)
{
    switch (section) {
    case SidebarSection::all:
        return QStringLiteral("all");
    case SidebarSection::gone:
        return QStringLiteral("gone");
    case SidebarSection::device:
        return QStringLiteral("device");
    case SidebarSection::files:
        return QStringLiteral("files");
    case SidebarSection::log:
        return QStringLiteral("log");
    }
    return {};
}

QString title(SidebarSection section)
{
    switch (section) {
    case SidebarSection::all:
        return QStringLiteral("Мои загрузки");
    case SidebarSection::gone:
        return QStringLiteral("Снятые из App Store");
    case SidebarSection::device:
        return QStringLiteral("На этом iPhone");
    case SidebarSection::files:
        return QStringLiteral("Скачанные IPA");
    case SidebarSection::log:
        return QStringLiteral("Журнал");
    }
    return {};
}

QString symbol(SidebarSection section)
{
    switch (section) {
    case SidebarSection::all:
        return QStringLiteral("square.grid.2x2");
    case SidebarSection::gone:
        return QStringLiteral("clock.arrow.circlepath");
    case SidebarSection::device:
        return QStringLiteral("iphone.gen3");
    case SidebarSection::files:
        return QStringLiteral("shippingbox");
    case SidebarSection::log:
        return QStringLiteral("list.bullet.rectangle");
    }
    return {};
}

} // namespace Sections
