#include "ui/QueuePanel.h"

#include "common/RussianText.h"
#include "model/AppModel.h"
#include "ui/RowPaint.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

QueuePanel::QueuePanel(AppModel* model, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
    , m_title(new QLabel(this))
    , m_progress(new QProgressBar(this))
    , m_status(new QLabel(this))
    , m_pause(new QPushButton(this))
    , m_cancel(new QPushButton(QStringLiteral("Отменить очередь"), this))
{
    setObjectName(QStringLiteral("queuePanel"));
    m_title->setObjectName(QStringLiteral("queueTitle"));
    m_title->setFont(RowPaint::font(0.9, QFont::Medium));
    m_progress->setObjectName(QStringLiteral("queueProgress"));
    m_progress->setTextVisible(false);
    m_progress->setMaximumHeight(6);
    m_status->setObjectName(QStringLiteral("queueStatus"));
    m_status->setFont(RowPaint::captionFont());
    m_status->setWordWrap(true);
    QPalette palette = m_status->palette();
    palette.setColor(QPalette::WindowText, RowPaint::secondary(palette));
    m_status->setPalette(palette);
    m_pause->setObjectName(QStringLiteral("queuePause"));
    m_cancel->setObjectName(QStringLiteral("queueCancel"));
    for (QPushButton* button : {m_pause, m_cancel}) {
        button->setFont(RowPaint::captionFont());
        button->setAutoDefault(false);
    }

    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(6);
    buttons->addWidget(m_pause);
    buttons->addWidget(m_cancel);
    buttons->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 4, 0, 4);
    layout->setSpacing(4);
    layout->addWidget(m_title);
    layout->addWidget(m_progress);
    layout->addWidget(m_status);
    layout->addLayout(buttons);

    connect(m_pause, &QPushButton::clicked, model, [model] {
        if (model->archiveQueue().isPaused())
            model->resumeQueue();
        else
            model->pauseQueue();
    });
    connect(m_cancel, &QPushButton::clicked, model, [model] { model->cancelQueue(); });
    connect(model, &AppModel::queueChanged, this, &QueuePanel::refresh);
    refresh();
}

QString QueuePanel::progressText(int finished, int running, int total)
{
    return QStringLiteral("Очередь: ") + QString::number(std::min(total, finished + running)) + QStringLiteral(" из ")
           + QString::number(total);
}

void QueuePanel::refresh()
{
    const ArchiveQueue& queue = m_model->archiveQueue();
    setVisible(!queue.isEmpty());
    if (queue.isEmpty())
        return;
    const int total = int(queue.items().size());
    const int finished = queue.finishedCount();
    m_title->setText(progressText(finished, int(queue.runningApps().size()), total));
    m_progress->setRange(0, total);
    m_progress->setValue(finished);
    m_pause->setText(queue.isPaused() ? QStringLiteral("Продолжить") : QStringLiteral("Пауза"));
    QString status;
    if (queue.isPaused())
        status = QStringLiteral("На паузе");
    else if (const std::optional<QDateTime> until = queue.waitingUntil())
        status =
            QStringLiteral("Apple просит подождать — продолжу в ") + RussianText::time(until->toLocalTime().time());
    if (queue.failedCount() > 0)
        status += (status.isEmpty() ? QString() : QStringLiteral(" · ")) + QStringLiteral("не удалось: ")
                  + QString::number(queue.failedCount());
    m_status->setText(status);
    m_status->setVisible(!status.isEmpty());
}
