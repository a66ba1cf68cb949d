#include "ui/SidebarListModel.h"

#include "model/AppModel.h"

#include <algorithm>

SidebarListModel::SidebarListModel(AppModel* model, QList<SidebarSection> sections, QObject* parent)
    : QAbstractListModel(parent)
    , m_model(model)
    , m_sections(std::move(sections))
{
    connect(model, &AppModel::appsChanged, this, &SidebarListModel::countsChanged);
    connect(model, &AppModel::installedAppsChanged, this, &SidebarListModel::countsChanged);
}

int SidebarListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_sections.size()) + 1;
}

Qt::ItemFlags SidebarListModel::flags(const QModelIndex& index) const
{
    if (index.row() == 0)
        return Qt::ItemIsEnabled;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

QVariant SidebarListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() > m_sections.size())
        return {};
    if (index.row() == 0) {
        if (role == Qt::DisplayRole)
            return QStringLiteral("Библиотека");
        if (role == IsHeaderRole)
            return true;
        return {};
    }
    const SidebarSection section = m_sections.at(index.row() - 1);
    switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole:
        return Sections::title(section);
    case SectionRole:
        return int(section);
    case BadgeRole:
        return badge(section);
    case SymbolRole:
        return Sections::symbol(section);
    case IsHeaderRole:
        return false;
    default:
        return {};
    }
}

QModelIndex SidebarListModel::indexOf(SidebarSection section) const
{
    const qsizetype position = m_sections.indexOf(section);
    return position < 0 ? QModelIndex() : index(int(position) + 1);
}

int SidebarListModel::badge(SidebarSection section) const
{
    if (!m_model)
        return 0;
    switch (section) {
    case SidebarSection::all:
        return int(m_model->apps().size());
    case SidebarSection::gone:
        return int(std::count_if(m_model->apps().cbegin(), m_model->apps().cend(),
                                 [](const PurchasedApp& app) { return app.isGoneFromStore(); }));
    case SidebarSection::device:
        return int(m_model->installedApps().size());
    case SidebarSection::files:
    case SidebarSection::log:
        return 0;
    }
    return 0;
}

void SidebarListModel::countsChanged()
{
    Q_EMIT dataChanged(index(1), index(int(m_sections.size())), {BadgeRole});
}
