#include "ui/AppIdSheet.h"

#include "BuildConfig.h"
#include "model/AppModel.h"
#include "ui/Labels.h"
#include "ui/ProminentButton.h"
#include "ui/RowPaint.h"
#include "ui/Spinner.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

AppIdSheet::AppIdSheet(AppModel* model, QWidget* parent)
    : QDialog(parent)
    , m_model(model)
    , m_text(new QLineEdit(this))
    , m_knownCount(Labels::create({}, RowPaint::captionFont(), RowPaint::tertiary(palette()), this))
    , m_error(Labels::wrapping({}, Labels::calloutFont(), RowPaint::red(), this))
    , m_working(new QWidget(this))
    , m_spinner(new Spinner(m_working))
    , m_step(Labels::create({}, Labels::calloutFont(), RowPaint::secondary(palette()), m_working))
    , m_cancel(new QPushButton(QStringLiteral("Отмена"), this))
    , m_download(new QPushButton(QStringLiteral("Скачать"), this))
    , m_install(new ProminentButton(QStringLiteral("Скачать и установить"), this))
{
    const QString title = QStringLiteral("Установка по App ID");
    setObjectName(QStringLiteral("appIdSheet"));
    setWindowTitle(title);
    setWindowModality(Qt::WindowModal);
    setFixedWidth(520);

    QLabel* hint = Labels::wrapping(QStringLiteral("Вставь номер приложения или ссылку вида ")
                                        + QString::fromUtf8(BuildConfig::storeWebHost)
                                        + QStringLiteral("/app/id564177498 — страница может быть уже удалена, Apple "
                                                         "всё равно отдаст файл, если аккаунт когда-то его скачивал."),
                                    Labels::calloutFont(), RowPaint::secondary(palette()), this);
    m_text->setObjectName(QStringLiteral("appIdText"));
    m_text->setPlaceholderText(QStringLiteral("564177498"));
    m_knownCount->setObjectName(QStringLiteral("appIdKnownCount"));
    m_error->setObjectName(QStringLiteral("appIdError"));
    m_cancel->setObjectName(QStringLiteral("appIdCancel"));
    m_download->setObjectName(QStringLiteral("appIdDownload"));
    m_install->setObjectName(QStringLiteral("appIdInstall"));
    m_working->setObjectName(QStringLiteral("appIdWorking"));
    m_step->setObjectName(QStringLiteral("appIdStep"));
    m_spinner->setFixedSize(18, 18);
    auto* working = new QHBoxLayout(m_working);
    working->setContentsMargins(0, 0, 0, 0);
    working->setSpacing(8);
    working->addWidget(m_spinner);
    working->addWidget(m_step, 1);
    m_cancel->setAutoDefault(false);
    m_download->setAutoDefault(false);

    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(8);
    buttons->addStretch();
    buttons->addWidget(m_cancel);
    buttons->addWidget(m_download);
    buttons->addWidget(m_install);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(20, 20, 20, 20);
    column->setSpacing(14);
    column->addWidget(Labels::create(title, Labels::headlineFont(), {}, this));
    column->addWidget(hint);
    column->addWidget(m_text);
    column->addWidget(m_knownCount);
    column->addWidget(m_error);
    column->addWidget(m_working);
    column->addLayout(buttons);

    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_download, &QPushButton::clicked, this, [this] { run(false); });
    connect(m_install, &QPushButton::clicked, this, [this] { run(true); });
    connect(model, &AppModel::knownAppsChanged, this, &AppIdSheet::refresh);
    connect(model, &AppModel::devicesChanged, this, &AppIdSheet::refresh);
    connect(model, &AppModel::appIDBusyChanged, this, &AppIdSheet::refresh);
    connect(model, &AppModel::appIDErrorChanged, this, &AppIdSheet::refresh);
    connect(model, &AppModel::activitiesChanged, this, &AppIdSheet::showStep);
    connect(model, &AppModel::appIDFinished, this, [this] {
        if (m_started)
            accept();
    });

    // A message left by an earlier sheet is not this one's.
    if (!model->appIDBusy())
        model->clearAppIDError();
    refresh();
}

void AppIdSheet::run(bool install)
{
    if (m_model->appIDBusy())
        return;
    m_started = true;
    m_running = AppModel::parseAppID(m_text->text()).value_or(0);
    // Busy until the download or installation ends; the sheet closes when the model says so.
    m_model->runAppID(m_text->text(), install);
}

void AppIdSheet::refresh()
{
    const bool busy = m_model->appIDBusy();
    const qsizetype known = m_model->knownApps().size();
    m_knownCount->setText(QStringLiteral("Известные ID из справочника: ") + QString::number(known));
    m_knownCount->setVisible(known > 0);
    const std::optional<QString> error = m_model->appIDError();
    m_error->setText(error.value_or(QString()));
    m_error->setVisible(error.has_value());
    m_working->setVisible(busy);
    showStep();
    m_download->setEnabled(!busy);
    m_install->setEnabled(!busy && !m_model->devices().isEmpty());
    // Return goes to whichever action can run.
    if (m_install->isEnabled())
        m_install->setDefault(true);
    else
        m_download->setDefault(true);
    // The wrapped hint and error decide the height; the width is fixed.
    setFixedHeight(qMax(layout()->totalHeightForWidth(width()), layout()->totalMinimumSize().height()));
}

void AppIdSheet::showStep()
{
    if (!m_model->appIDBusy())
        return;
    // A run left by an earlier sheet still shows that something is going on, without its steps.
    const AppActivity activity = m_running ? m_model->activity(m_running) : AppActivity{};
    QString step = QStringLiteral("Спрашиваю Apple…");
    if (activity.kind == AppActivity::Kind::downloading && activity.bytes >= 1) {
        step = QStringLiteral("Скачиваю… ")
               + (activity.fraction() ? RowPaint::downloadProgress(activity.bytes, activity.total)
                                      : RowPaint::fileSize(activity.bytes));
    } else if (activity.kind == AppActivity::Kind::installing) {
        step = activity.text;
    }
    m_step->setText(step);
}
