#include "ui/LogView.h"

#include "ui/LogListModel.h"

#include <QDateTime>
#include <QListView>
#include <QLocale>
#include <QStyledItemDelegate>
#include <QVBoxLayout>

namespace {

class LogEntryDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        const QDateTime date = index.data(LogListModel::DateRole).toDateTime();
        option->text =
            QLocale().toString(date.time(), QStringLiteral("HH:mm:ss")) + QStringLiteral("   ") + option->text;
    }
};

} // namespace

LogView::LogView(AppModel* model, QWidget* parent)
    : QWidget(parent)
    , m_list(new QListView(this))
    , m_entries(new LogListModel(model, this))
{
    setObjectName(QStringLiteral("logView"));
    m_list->setObjectName(QStringLiteral("logList"));
    m_list->setModel(m_entries);
    m_list->setItemDelegate(new LogEntryDelegate(m_list));
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_list->setUniformItemSizes(true);
    m_list->setWordWrap(false);
    m_list->setTextElideMode(Qt::ElideRight);
    m_list->setFont(QFont(QStringLiteral("monospace")));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_list);

    connect(m_entries, &LogListModel::entriesAppended, m_list, &QListView::scrollToBottom);
}
