#include "ui/SignInView.h"

#include "model/AppModel.h"
#include "store/IPAToolError.h"
#include "ui/Icons.h"
#include "ui/Labels.h"
#include "ui/ProminentButton.h"
#include "ui/RowPaint.h"

#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

namespace {

constexpr int fieldWidth = 320;
constexpr int errorWidth = 380;
constexpr int buttonLabelWidth = 120;
constexpr int symbolSide = 44;

QLineEdit* makeField(const QString& name, const QString& placeholder, QWidget* parent)
{
    auto* field = new QLineEdit(parent);
    field->setObjectName(name);
    field->setPlaceholderText(placeholder);
    field->setFixedSize(fieldWidth, 28);
    field->setTextMargins(4, 0, 4, 0);
    return field;
}

} // namespace

SignInView::SignInView(AppModel* model, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
    , m_emailField(makeField(QStringLiteral("signInEmail"), QStringLiteral("Apple Account (e-mail)"), this))
    , m_passwordField(makeField(QStringLiteral("signInPassword"), QStringLiteral("Пароль"), this))
    , m_codeField(makeField(QStringLiteral("signInCode"), QStringLiteral("Код проверки из шести цифр"), this))
    , m_errorLabel(Labels::wrapping({}, Labels::calloutFont(), RowPaint::red(), this))
    , m_button(new ProminentButton(QStringLiteral("Войти"), this))
{
    setObjectName(QStringLiteral("signInView"));
    const QPalette& colours = palette();

    auto* symbol = new QLabel(this);
    symbol->setPixmap(
        Icons::pixmap(QStringLiteral("applelogo"), symbolSide, RowPaint::secondary(colours), devicePixelRatioF()));

    QLabel* title = Labels::create(QStringLiteral("Quorrel"), Labels::titleFont(), {}, this);
    QLabel* callout = Labels::create(QStringLiteral("Ставит на iPhone приложения, которые App Store больше не "
                                                    "отдаёт,\nно ваш Apple Account их когда-то получал."),
                                     Labels::calloutFont(), RowPaint::secondary(colours), this);
    callout->setAlignment(Qt::AlignHCenter);
    auto* heading = new QVBoxLayout;
    heading->setSpacing(4);
    heading->addWidget(title, 0, Qt::AlignHCenter);
    heading->addWidget(callout, 0, Qt::AlignHCenter);

    m_emailField->setInputMethodHints(Qt::ImhEmailCharactersOnly | Qt::ImhNoAutoUppercase | Qt::ImhNoPredictiveText);
    m_passwordField->setEchoMode(QLineEdit::Password);
    m_codeField->setInputMethodHints(Qt::ImhDigitsOnly);
    m_codeField->hide();
    auto* fields = new QVBoxLayout;
    fields->setSpacing(10);
    fields->addWidget(m_emailField, 0, Qt::AlignHCenter);
    fields->addWidget(m_passwordField, 0, Qt::AlignHCenter);
    fields->addWidget(m_codeField, 0, Qt::AlignHCenter);

    m_errorLabel->setObjectName(QStringLiteral("signInError"));
    m_errorLabel->setFixedWidth(errorWidth);
    m_errorLabel->setAlignment(Qt::AlignHCenter);
    m_errorLabel->hide();

    m_button->setObjectName(QStringLiteral("signInButton"));
    m_button->setDefault(true);
    m_button->setFixedSize(buttonLabelWidth + 2 * 14, 30);

    QLabel* footnote =
        Labels::create(QStringLiteral("Пароль уходит только в Apple через ipatool и остаётся в связке ключей macOS."),
                       RowPaint::captionFont(), RowPaint::tertiary(colours), this);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(40, 40, 40, 40);
    column->setSpacing(18);
    column->addStretch();
    column->addWidget(symbol, 0, Qt::AlignHCenter);
    column->addLayout(heading);
    column->addLayout(fields);
    column->addWidget(m_errorLabel, 0, Qt::AlignHCenter);
    column->addWidget(m_button, 0, Qt::AlignHCenter);
    column->addWidget(footnote, 0, Qt::AlignHCenter);
    column->addStretch();

    connect(m_emailField, &QLineEdit::textChanged, this, [this](const QString& text) {
        m_email = text;
        refresh();
    });
    connect(m_passwordField, &QLineEdit::textChanged, this, [this](const QString& text) {
        m_password = text;
        refresh();
    });
    connect(m_codeField, &QLineEdit::textChanged, this, [this](const QString& text) {
        m_code = text;
        refresh();
    });
    // Not inside a dialog, so the default button does not see Return by itself.
    for (QLineEdit* field : {m_emailField, m_passwordField, m_codeField})
        connect(field, &QLineEdit::returnPressed, this, &SignInView::submit);
    connect(m_button, &QPushButton::clicked, this, &SignInView::submit);
    refresh();
}

bool SignInView::canSubmit() const
{
    return !m_busy && !m_email.isEmpty() && !m_password.isEmpty() && (!m_needsCode || m_code.size() >= 4);
}

void SignInView::submit()
{
    if (!canSubmit())
        return;
    m_busy = true;
    m_error.reset();
    refresh();
    signIn(QPointer(this), m_model, m_email, m_password, m_needsCode ? m_code : QString());
}

QCoro::Task<> SignInView::signIn(QPointer<SignInView> view, AppModel* model, QString email, QString password,
                                 QString code)
{
    bool needsCode = false;
    std::optional<QString> error;
    try {
        co_await model->signIn(std::move(email), std::move(password), std::move(code));
    } catch (const IPAToolError& failure) {
        if (failure.kind() == IPAToolError::Kind::needsTwoFactor)
            needsCode = true;
        else
            error = failure.description();
    } catch (const std::exception& failure) {
        error = AppError::describe(failure);
    }
    // A successful sign-in switches the window away from this view, which deletes it.
    if (view)
        view->finish(needsCode, std::move(error));
}

void SignInView::finish(bool needsCode, std::optional<QString> error)
{
    if (needsCode) {
        m_needsCode = true;
        error = QStringLiteral("Apple прислал код на доверенное устройство — введи его.");
    }
    m_error = std::move(error);
    m_busy = false;
    refresh();
    // The fields were disabled while busy and lost the focus; give it where the user types next.
    if (m_needsCode)
        m_codeField->setFocus();
    else if (m_error)
        m_passwordField->setFocus();
}

void SignInView::refresh()
{
    for (QLineEdit* field : {m_emailField, m_passwordField, m_codeField})
        field->setEnabled(!m_busy);
    m_codeField->setVisible(m_needsCode);
    m_errorLabel->setText(m_error.value_or(QString()));
    m_errorLabel->setVisible(m_error.has_value());
    m_button->setText(m_needsCode ? QStringLiteral("Подтвердить код") : QStringLiteral("Войти"));
    m_button->setBusy(m_busy);
    m_button->setEnabled(canSubmit());
}
