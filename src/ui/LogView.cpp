#include "ui/LogView.h"

#include "common/RussianText.h"
#include "model/AppModel.h"
#include "ui/LogListModel.h"
#include "ui/PathOffer.h"
#include "ui/RowPaint.h"

#include <QAction>
#include <QClipboard>
#include <QDateTime>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QListView>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QUrl>
#include <QVBoxLayout>

namespace {

std::optional<QString> chooseLogCopy(QWidget* parent)
{
    const QString name =
        QStringLiteral("quorrel-") + QDate::currentDate().toString(Qt::ISODate) + QStringLiteral(".log");
    const QString path = QFileDialog::getSaveFileName(parent, QStringLiteral("Сохранить журнал"),
                                                      QDir::home().filePath(name), QStringLiteral("Журнал (*.log)"));
    if (path.isEmpty())
        return std::nullopt;
    return path;
}

constexpr int margin = 12;
constexpr int padding = 4;
constexpr int spacing = 8;

class LogEntryDelegate : public QStyledItemDelegate {
public:
    explicit LogEntryDelegate(QListView* view)
        : QStyledItemDelegate(view)
        , m_view(view)
    {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        painter->save();
        if (option.state & QStyle::State_Selected) {
            QColor selection = option.palette.color(QPalette::Highlight);
            selection.setAlphaF(0.22);
            painter->fillRect(option.rect, selection);
        }
        const QFont timeFont = RowPaint::captionFont();
        const QFont textFont = RowPaint::font(0.95);
        const QFontMetrics timeMetrics(timeFont);
        const QFontMetrics textMetrics(textFont);
        const QRect content = option.rect.adjusted(margin, padding, -margin, -padding);
        // Both columns share the first line's baseline.
        const int baseline = content.top() + textMetrics.ascent();
        painter->setFont(timeFont);
        painter->setPen(RowPaint::tertiary(option.palette));
        painter->drawText(QPoint(content.left(), baseline),
                          LogView::timeText(index.data(LogListModel::DateRole).toDateTime()));

        const QRect text = textRect(content);
        painter->setFont(textFont);
        painter->setPen(index.data(LogListModel::IsErrorRole).toBool() ? RowPaint::red()
                                                                       : option.palette.color(QPalette::Text));
        painter->drawText(text, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap,
                          index.data(Qt::DisplayRole).toString());
        painter->restore();
    }

    QSize sizeHint(const QStyleOptionViewItem&, const QModelIndex& index) const override
    {
        const QRect content(0, 0, qMax(200, m_view->viewport()->width()) - 2 * margin, 10000);
        const QRect text = QFontMetrics(RowPaint::font(0.95))
                               .boundingRect(textRect(content), Qt::AlignLeft | Qt::TextWordWrap,
                                             index.data(Qt::DisplayRole).toString());
        return {content.width(), qMax(text.height(), QFontMetrics(RowPaint::captionFont()).height()) + 2 * padding};
    }

private:
    static int timeWidth()
    {
        // Wide enough for any time of day, so the texts line up.
        const QFontMetrics metrics(RowPaint::captionFont());
        return qMax(metrics.horizontalAdvance(LogView::timeText(QDateTime(QDate(2000, 1, 1), QTime(23, 58, 58)))),
                    metrics.horizontalAdvance(LogView::timeText(QDateTime(QDate(2000, 1, 1), QTime(8, 58, 58)))));
    }
    static QRect textRect(const QRect& content) { return content.adjusted(timeWidth() + spacing, 0, 0, 0); }

    QListView* m_view;
};

} // namespace

QString LogView::timeText(const QDateTime& date)
{
    return RussianText::timeWithSeconds(date.time());
}

LogView::LogView(AppModel* model, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
    , m_list(new QListView(this))
    , m_entries(new LogListModel(model, this))
    , m_chooseSave(chooseLogCopy)
{
    setObjectName(QStringLiteral("logView"));
    m_list->setObjectName(QStringLiteral("logList"));
    m_list->setModel(m_entries);
    m_list->setItemDelegate(new LogEntryDelegate(m_list));
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_list->setResizeMode(QListView::Adjust);
    m_list->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    m_list->setFrameShape(QFrame::NoFrame);
    m_list->setContextMenuPolicy(Qt::ActionsContextMenu);

    auto* copy = new QAction(QStringLiteral("Скопировать"), m_list);
    copy->setObjectName(QStringLiteral("copyLogAction"));
    copy->setShortcut(QKeySequence::Copy);
    copy->setShortcutContext(Qt::WidgetShortcut);
    connect(copy, &QAction::triggered, this, &LogView::copySelection);
    m_list->addAction(copy);

    auto* header = new QHBoxLayout;
    header->setContentsMargins(12, 10, 12, 10);
    header->setSpacing(8);
    header->addStretch();
    auto* save = new QPushButton(QStringLiteral("Сохранить журнал…"), this);
    save->setObjectName(QStringLiteral("saveLogButton"));
    connect(save, &QPushButton::clicked, this, &LogView::saveLog);
    header->addWidget(save);
    m_openFolder = new QPushButton(QStringLiteral("Открыть папку журнала"), this);
    m_openFolder->setObjectName(QStringLiteral("openLogFolderButton"));
    connect(m_openFolder, &QPushButton::clicked, this, [this, model] {
        const std::optional<QString> folder = model->logDirectory();
        if (folder && !QDesktopServices::openUrl(QUrl::fromLocalFile(*folder)))
            PathOffer::show(*folder, this);
    });
    header->addWidget(m_openFolder);
    const auto updateFolder = [this] {
        const bool onDisk = m_model->logDirectory().has_value();
        m_openFolder->setEnabled(onDisk);
        m_openFolder->setToolTip(onDisk ? *m_model->logDirectory() : QStringLiteral("Журнал сейчас не пишется в файл"));
    };
    updateFolder();
    connect(model, &AppModel::logChanged, m_openFolder, updateFolder);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addLayout(header);
    layout->addWidget(m_list);

    connect(m_entries, &LogListModel::entriesAppended, m_list, &QListView::scrollToBottom);
}

void LogView::saveLog()
{
    const QPointer<LogView> self(this);
    const std::optional<QString> path = m_chooseSave ? m_chooseSave(this) : std::nullopt;
    // The dialog runs its own event loop, long enough for the window to have gone.
    if (self && path)
        m_model->saveLog(*path);
}

void LogView::copySelection()
{
    QModelIndexList rows = m_list->selectionModel()->selectedRows();
    std::sort(rows.begin(), rows.end(), [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    QStringList lines;
    for (const QModelIndex& row : std::as_const(rows))
        lines.append(timeText(row.data(LogListModel::DateRole).toDateTime()) + QLatin1Char(' ')
                     + row.data(Qt::DisplayRole).toString());
    if (!lines.isEmpty())
        QGuiApplication::clipboard()->setText(lines.join(QLatin1Char('\n')));
}
