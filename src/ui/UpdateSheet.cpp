#include "ui/UpdateSheet.h"

#include "common/RussianText.h"
#include "model/AppModel.h"
#include "ui/Icons.h"
#include "ui/Labels.h"
#include "ui/ProminentButton.h"
#include "ui/RowPaint.h"
#include "ui/Spinner.h"

#include <QDesktopServices>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

using Kind = AppModel::UpdateState::Kind;

constexpr int smallSpinner = 18;

class NotesBlock : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QColor fill = RowPaint::secondary(palette());
        fill.setAlphaF(0.08);
        QPainterPath shape;
        shape.addRoundedRect(QRectF(rect()), 10, 10);
        painter.fillPath(shape, fill);
    }
};

QWidget* busyRow(const QString& name, const QString& text, QWidget* parent)
{
    auto* row = new QWidget(parent);
    row->setObjectName(name);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    auto* spinner = new Spinner(row);
    spinner->setFixedSize(smallSpinner, smallSpinner);
    layout->addWidget(spinner, 0, Qt::AlignVCenter);
    layout->addWidget(Labels::wrapping(text, Labels::calloutFont(), {}, row), 1, Qt::AlignVCenter);
    return row;
}

QString titleFor(const AppModel::UpdateState& state, const std::optional<UpdateInfo>& info)
{
    switch (state.kind) {
    case Kind::downloading:
    case Kind::installing:
        return QStringLiteral("Обновление");
    case Kind::failed:
        return QStringLiteral("Не получилось проверить обновления");
    case Kind::upToDate:
        return QStringLiteral("Установлена последняя версия");
    case Kind::idle:
    case Kind::checking:
    case Kind::available:
        break;
    }
    return info ? QStringLiteral("Доступна версия ") + info->version : QStringLiteral("Обновление");
}

// Only a web page is opened: the manifest comes from a server, and any other scheme could hand a
// local file or program to the desktop's opener.
bool isWebPage(const std::optional<QUrl>& url)
{
    return url && (url->scheme() == QLatin1String("https") || url->scheme() == QLatin1String("http"));
}

} // namespace

UpdateSheet::UpdateSheet(AppModel* model, QWidget* parent)
    : QDialog(parent)
    , m_model(model)
    , m_title(Labels::wrapping({}, Labels::headlineFont(), {}, this))
    , m_subtitle(Labels::wrapping({}, RowPaint::captionFont(), RowPaint::secondary(palette()), this))
    , m_notesBlock(new NotesBlock(this))
    , m_notes(Labels::wrapping({}, Labels::calloutFont(), {}, m_notesBlock))
    , m_checking(busyRow(QStringLiteral("updateChecking"), QStringLiteral("Спрашиваю сервер…"), this))
    , m_downloading(new QWidget(this))
    , m_progress(new QProgressBar(m_downloading))
    , m_installing(busyRow(QStringLiteral("updateInstalling"),
                           QStringLiteral("Подменяю приложение — сейчас оно перезапустится"), this))
    , m_error(Labels::wrapping({}, Labels::calloutFont(), RowPaint::red(), this))
    , m_pageLink(new QLabel(this))
    , m_close(new QPushButton(QStringLiteral("Закрыть"), this))
    , m_install(new ProminentButton(QStringLiteral("Обновить и перезапустить"), this))
    , m_unsignedNote(Labels::wrapping(QStringLiteral("Эта сборка ставит обновления только из подписанного выпуска — "
                                                     "скачай новую версию со страницы проекта."),
                                      RowPaint::captionFont(), RowPaint::secondary(palette()), this))
    , m_openRelease(new ProminentButton(QStringLiteral("Открыть страницу"), this))
    , m_retry(new QPushButton(QStringLiteral("Повторить"), this))
{
    setObjectName(QStringLiteral("updateSheet"));
    setWindowTitle(QStringLiteral("Обновление Quorrel"));
    setWindowModality(Qt::WindowModal);
    m_title->setObjectName(QStringLiteral("updateTitle"));
    m_subtitle->setObjectName(QStringLiteral("updateSubtitle"));
    m_notesBlock->setObjectName(QStringLiteral("updateNotesBlock"));
    m_notes->setObjectName(QStringLiteral("updateNotes"));
    m_notes->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_downloading->setObjectName(QStringLiteral("updateDownloading"));
    m_progress->setObjectName(QStringLiteral("updateProgress"));
    m_error->setObjectName(QStringLiteral("updateError"));
    m_error->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_pageLink->setObjectName(QStringLiteral("updatePageLink"));
    m_close->setObjectName(QStringLiteral("updateClose"));
    m_install->setObjectName(QStringLiteral("updateInstall"));
    m_retry->setObjectName(QStringLiteral("updateRetry"));
    m_unsignedNote->setObjectName(QStringLiteral("updateUnsignedNote"));
    m_openRelease->setObjectName(QStringLiteral("updateOpenRelease"));

    auto* icon = new QLabel(this);
    icon->setPixmap(
        Icons::pixmap(QStringLiteral("arrow.triangle.2.circlepath"), 32, RowPaint::green(), devicePixelRatioF()));
    auto* headings = new QVBoxLayout;
    headings->setSpacing(2);
    headings->addWidget(m_title);
    headings->addWidget(m_subtitle);
    auto* header = new QHBoxLayout;
    header->setSpacing(12);
    header->addWidget(icon, 0, Qt::AlignVCenter);
    header->addLayout(headings, 1);

    auto* notes = new QVBoxLayout(m_notesBlock);
    notes->setContentsMargins(12, 12, 12, 12);
    notes->addWidget(m_notes);

    m_progress->setRange(0, 1000);
    m_progress->setTextVisible(false);
    auto* downloading = new QVBoxLayout(m_downloading);
    downloading->setContentsMargins(0, 0, 0, 0);
    downloading->setSpacing(6);
    downloading->addWidget(m_progress);
    downloading->addWidget(Labels::create(QStringLiteral("Скачиваю и проверяю контрольную сумму…"),
                                          RowPaint::captionFont(), RowPaint::secondary(palette()), m_downloading));

    m_pageLink->setFont(Labels::calloutFont());
    m_pageLink->setTextFormat(Qt::RichText);
    m_pageLink->setText(QStringLiteral("<a href=\"page\">Открыть страницу</a>"));
    m_pageLink->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    for (QPushButton* button :
         {m_close, static_cast<QPushButton*>(m_install), static_cast<QPushButton*>(m_openRelease), m_retry})
        button->setAutoDefault(false);
    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(8);
    buttons->addWidget(m_pageLink);
    buttons->addStretch();
    buttons->addWidget(m_close);
    buttons->addWidget(m_install);
    buttons->addWidget(m_openRelease);
    buttons->addWidget(m_retry);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(22, 22, 22, 22);
    column->setSpacing(16);
    column->addLayout(header);
    column->addWidget(m_notesBlock);
    for (QWidget* state : {m_checking, m_downloading, m_installing, static_cast<QWidget*>(m_error)})
        column->addWidget(state);
    column->addWidget(m_unsignedNote);
    column->addLayout(buttons);

    connect(m_pageLink, &QLabel::linkActivated, this, &UpdateSheet::openPage);
    connect(m_close, &QPushButton::clicked, this, &UpdateSheet::reject);
    // The operations run on by themselves; the sheet follows them through the model's signals.
    connect(m_install, &QPushButton::clicked, model, [model] { model->installUpdate(); });
    connect(m_openRelease, &QPushButton::clicked, this, &UpdateSheet::openPage);
    connect(m_retry, &QPushButton::clicked, model, [model] { model->checkForUpdates(true); });
    connect(model, &AppModel::updateStateChanged, this, &UpdateSheet::refresh);
    connect(model, &AppModel::updateInfoChanged, this, &UpdateSheet::refresh);
    refresh();
}

void UpdateSheet::reject()
{
    m_model->dismissUpdateResult();
    QDialog::reject();
}

void UpdateSheet::openPage()
{
    const std::optional<UpdateInfo>& info = m_model->updateInfo();
    if (!info)
        return;
    // Without a page of its own the release is the archive itself, for the user to install by hand.
    if (isWebPage(info->pageURL))
        QDesktopServices::openUrl(*info->pageURL);
    else if (info->url.scheme() == QLatin1String("https"))
        QDesktopServices::openUrl(info->url);
}

void UpdateSheet::refresh()
{
    const AppModel::UpdateState& state = m_model->updateState();
    const std::optional<UpdateInfo>& info = m_model->updateInfo();

    m_title->setText(titleFor(state, info));
    if (info && state.kind != Kind::upToDate) {
        QStringList parts{QStringLiteral("сейчас у вас ") + m_model->updater().currentVersion(), info->sizeText()};
        if (info->date)
            parts.append(RussianText::date(info->date->toLocalTime().date()));
        m_subtitle->setText(parts.join(QStringLiteral(" · ")));
    } else {
        m_subtitle->setText(m_model->appVersionText());
    }

    const bool hasNotes = info && !info->notes.isEmpty();
    m_notesBlock->setVisible(hasNotes);
    m_notes->setText(hasNotes ? info->notes : QString());

    m_checking->setVisible(state.kind == Kind::checking);
    m_downloading->setVisible(state.kind == Kind::downloading);
    m_progress->setValue(qRound(qBound(0.0, state.progress, 1.0) * 1000));
    m_installing->setVisible(state.kind == Kind::installing);
    m_error->setVisible(state.kind == Kind::failed);
    m_error->setText(state.kind == Kind::failed ? state.message : QString());

    m_pageLink->setVisible(info && isWebPage(info->pageURL));
    const bool offered = state.kind == Kind::available;
    const bool installs = m_model->updater().canInstall();
    m_install->setVisible(offered && installs);
    m_install->setDefault(offered && installs);
    m_openRelease->setVisible(offered && !installs);
    m_openRelease->setDefault(offered && !installs);
    m_unsignedNote->setVisible(offered && !installs);
    m_retry->setVisible(state.kind == Kind::failed);

    // The width is fixed; the height follows the wrapped texts of the state shown.
    layout()->activate();
    setFixedSize(sheetWidth, layout()->hasHeightForWidth() ? layout()->totalHeightForWidth(sheetWidth)
                                                           : layout()->totalSizeHint().height());
}
