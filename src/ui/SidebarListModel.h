#pragma once

#include "ui/SidebarSection.h"

#include <QAbstractListModel>
#include <QPointer>

class AppModel;

/// The sidebar's rows: the "Библиотека" header, then one row per section with its count.
class SidebarListModel : public QAbstractListModel {
    Q_OBJECT
public:
    enum Role { SectionRole = Qt::UserRole + 1, BadgeRole, SymbolRole, IsHeaderRole };

    SidebarListModel(AppModel* model, QList<SidebarSection> sections, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    QModelIndex indexOf(SidebarSection section) const;
    /// The number a section's row shows; 0 shows none.
    int badge(SidebarSection section) const;

private:
    void countsChanged();

    QPointer<AppModel> m_model;
    QList<SidebarSection> m_sections;
};
