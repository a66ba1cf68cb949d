#include "ui/SidebarSection.h"

namespace {

struct Description {
    const char* id;
    const char* title;
    const char* symbol;
};

Description describe(SidebarSection section)
{
    switch (section) {
    case SidebarSection::all:
        return {"all", "Мои загрузки", "square.grid.2x2"};
    case SidebarSection::gone:
        return {"gone", "Снятые из App Store", "clock.arrow.circlepath"};
    case SidebarSection::device:
        return {"device", "На этом iPhone", "iphone.gen3"};
    case SidebarSection::files:
        return {"files", "Скачанные IPA", "shippingbox"};
    case SidebarSection::log:
        return {"log", "Журнал", "list.bullet.rectangle"};
    }
    return {"", "", ""};
}

} // namespace

namespace Sections {

QString id(SidebarSection section)
{
    return QString::fromUtf8(describe(section).id);
}

QString title(SidebarSection section)
{
    return QString::fromUtf8(describe(section).title);
}

QString symbol(SidebarSection section)
{
    return QString::fromUtf8(describe(section).symbol);
}

} // namespace Sections
