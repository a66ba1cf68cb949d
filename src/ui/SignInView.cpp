#include "ui/SignInView.h"

#include "model/AppModel.h"
#include "platform/Platform.h"
#include "process/Tools.h"
#include "store/IPAToolError.h"
#include "ui/Icons.h"
#include "ui/Labels.h"
#include "ui/ProminentButton.h"
#include "ui/RowPaint.h"

#include <QDesktopServices>
#include <QLabel>
#include <QLineEdit>
#include <QUrl>
#include <QVBoxLayout>
#include <QValidator>

namespace {

constexpr int fieldWidth = 320;
constexpr int errorWidth = 380;
constexpr int buttonLabelWidth = 120;
constexpr int symbolSide = 44;
constexpr int codeLength = 6;

const char releasesPage[] = "https://github.com/majd/ipatool/releases";

QString footnoteText()
{
    if constexpr (Platform::isMacOS())
        return QStringLiteral("Пароль уходит только в Apple через ipatool и остаётся в связке ключей macOS.");
    // ipatool keeps its sign-in in the desktop's Secret Service, or without one in an encrypted file.
    if constexpr (Platform::isLinux())
        return QStringLiteral("Пароль уходит только в Apple через ipatool и остаётся в связке ключей\nрабочего "
                              "стола (Secret Service) или в зашифрованном файле в ~/.ipatool.");
    return QStringLiteral("Пароль уходит только в Apple через ipatool и остаётся в его связке ключей.");
}

// Keeps the digits of what is typed or pasted rather than refusing it, so "123 456" or
// "Код: 123456" still lands whole.
class CodeFilter : public QValidator {
public:
    using QValidator::QValidator;

    State validate(QString& input, int& position) const override
    {
        QString digits;
        int cursor = 0;
        for (qsizetype i = 0; i < input.size(); ++i) {
            const QChar c = input.at(i);
            if (c < u'0' || c > u'9' || digits.size() == codeLength)
                continue;
            digits.append(c);
            if (i < position)
                ++cursor;
        }
        input = digits;
        position = cursor;
        return Acceptable;
    }
};

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
    , m_keychainField(makeField(QStringLiteral("signInKeychain"), QStringLiteral("Пароль связки ключей ipatool"), this))
    , m_keychainNote(
          Labels::create(QStringLiteral("Это пароль файла, где ipatool хранит вход, а не пароль Apple Account."),
                         RowPaint::captionFont(), RowPaint::secondary(palette()), this))
    , m_errorLabel(Labels::wrapping({}, Labels::calloutFont(), RowPaint::red(), this))
    , m_releasesLink(new QPushButton(QStringLiteral("Открыть страницу релизов ipatool"), this))
    , m_button(new ProminentButton(QStringLiteral("Войти"), this))
    , m_waitNote(Labels::create({}, Labels::calloutFont(), RowPaint::secondary(palette()), this))
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
    m_codeField->setValidator(new CodeFilter(m_codeField));
    m_codeField->hide();
    m_keychainField->setEchoMode(QLineEdit::Password);
    m_keychainNote->setObjectName(QStringLiteral("signInKeychainNote"));
    auto* fields = new QVBoxLayout;
    fields->setSpacing(10);
    fields->addWidget(m_emailField, 0, Qt::AlignHCenter);
    fields->addWidget(m_passwordField, 0, Qt::AlignHCenter);
    fields->addWidget(m_codeField, 0, Qt::AlignHCenter);
    fields->addWidget(m_keychainField, 0, Qt::AlignHCenter);
    fields->addWidget(m_keychainNote, 0, Qt::AlignHCenter);

    m_errorLabel->setObjectName(QStringLiteral("signInError"));
    m_errorLabel->setFixedWidth(errorWidth);
    m_errorLabel->setAlignment(Qt::AlignHCenter);
    m_errorLabel->hide();

    m_releasesLink->setObjectName(QStringLiteral("signInReleases"));
    m_releasesLink->setFlat(true);
    m_releasesLink->setCursor(Qt::PointingHandCursor);
    QPalette linkColours = m_releasesLink->palette();
    linkColours.setColor(QPalette::ButtonText, linkColours.color(QPalette::Link));
    m_releasesLink->setPalette(linkColours);
    m_notInstalled = Platform::isLinux() && !Tools::ipatool();

    m_button->setObjectName(QStringLiteral("signInButton"));
    m_button->setDefault(true);
    m_button->setFixedSize(buttonLabelWidth + 2 * 14, 30);

    m_waitNote->setObjectName(QStringLiteral("signInWait"));
    m_clock.setInterval(std::chrono::seconds(1));
    connect(&m_clock, &QTimer::timeout, this, &SignInView::showElapsed);

    QLabel* footnote = Labels::create(footnoteText(), RowPaint::captionFont(), RowPaint::tertiary(colours), this);
    footnote->setAlignment(Qt::AlignHCenter);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(40, 40, 40, 40);
    column->setSpacing(18);
    column->addStretch();
    column->addWidget(symbol, 0, Qt::AlignHCenter);
    column->addLayout(heading);
    column->addLayout(fields);
    column->addWidget(m_errorLabel, 0, Qt::AlignHCenter);
    column->addWidget(m_releasesLink, 0, Qt::AlignHCenter);
    column->addWidget(m_button, 0, Qt::AlignHCenter);
    column->addWidget(m_waitNote, 0, Qt::AlignHCenter);
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
    connect(m_keychainField, &QLineEdit::textChanged, this, [this](const QString& text) {
        m_passphrase = text;
        refresh();
    });
    // Not inside a dialog, so the default button does not see Return by itself.
    for (QLineEdit* field : {m_emailField, m_passwordField, m_codeField, m_keychainField})
        connect(field, &QLineEdit::returnPressed, this, &SignInView::submit);
    connect(m_button, &QPushButton::clicked, this, &SignInView::submit);
    connect(m_releasesLink, &QPushButton::clicked, this,
            [] { QDesktopServices::openUrl(QUrl(QString::fromLatin1(releasesPage))); });
    connect(m_model, &AppModel::keychainLockedChanged, this, &SignInView::refresh);
    refresh();
}

bool SignInView::unlockOnly() const
{
    return m_model->keychainLocked();
}

bool SignInView::canSubmit() const
{
    if (m_busy)
        return false;
    if (unlockOnly())
        return !m_passphrase.isEmpty();
    return !m_email.isEmpty() && !m_password.isEmpty() && (!m_needsCode || m_code.size() == codeLength)
           && (!m_needsPassphrase || !m_passphrase.isEmpty());
}

void SignInView::submit()
{
    if (!canSubmit())
        return;
    m_busy = true;
    m_signingIn = !unlockOnly();
    m_error.reset();
    m_elapsed.start();
    if (m_signingIn)
        m_clock.start();
    showElapsed();
    refresh();
    attempt(QPointer(this), m_model, !m_signingIn, m_email, m_password, m_needsCode ? m_code : QString(),
            m_needsPassphrase || unlockOnly() ? m_passphrase : QString());
}

QCoro::Task<> SignInView::attempt(QPointer<SignInView> view, AppModel* model, bool unlockOnly, QString email,
                                  QString password, QString code, QString passphrase)
{
    Outcome outcome;
    try {
        if (unlockOnly)
            co_await model->unlockKeychain(std::move(passphrase));
        else
            co_await model->signIn(std::move(email), std::move(password), std::move(code), std::move(passphrase));
    } catch (const std::exception& failure) {
        outcome = outcomeOf(failure);
    }
    // A successful sign-in switches the window away from this view, which deletes it.
    if (view)
        view->finish(std::move(outcome));
}

SignInView::Outcome SignInView::outcomeOf(const std::exception& failure)
{
    Outcome outcome;
    const auto* error = dynamic_cast<const IPAToolError*>(&failure);
    if (!error) {
        outcome.error = AppError::describe(failure, QStringLiteral("Вход не удался"));
        return outcome;
    }
    switch (error->kind()) {
    case IPAToolError::Kind::needsTwoFactor:
        outcome.needsCode = true;
        outcome.error = QStringLiteral("Apple прислал код на доверенное устройство — введи его.");
        break;
    case IPAToolError::Kind::badCode:
        outcome.needsCode = true;
        outcome.error = error->description();
        break;
    case IPAToolError::Kind::keychainLocked:
    case IPAToolError::Kind::wrongKeychainPassphrase:
        outcome.needsPassphrase = true;
        outcome.error = error->description();
        break;
    case IPAToolError::Kind::notInstalled:
        outcome.notInstalled = Platform::isLinux();
        outcome.error = error->description();
        break;
    default:
        outcome.error = AppError::describe(failure, QStringLiteral("Вход не удался"));
    }
    return outcome;
}

void SignInView::finish(Outcome outcome)
{
    m_needsCode = m_needsCode || outcome.needsCode;
    m_needsPassphrase = m_needsPassphrase || outcome.needsPassphrase;
    m_notInstalled = outcome.notInstalled;
    m_error = std::move(outcome.error);
    m_busy = false;
    m_signingIn = false;
    m_clock.stop();
    refresh();
    // The fields were disabled while busy and lost the focus; give it where the user types next.
    if (outcome.needsPassphrase || (unlockOnly() && m_error)) {
        m_keychainField->setFocus();
        m_keychainField->selectAll();
    } else if (m_needsCode) {
        m_codeField->setFocus();
        m_codeField->selectAll();
    } else if (m_error) {
        m_passwordField->setFocus();
    } else if (!unlockOnly()) {
        // Unlocked, and nobody was signed in behind it: now the account is asked for.
        m_emailField->setFocus();
    }
}

void SignInView::focusFirstField()
{
    if (unlockOnly())
        m_keychainField->setFocus();
    else if (m_needsCode)
        m_codeField->setFocus();
    else
        m_emailField->setFocus();
}

void SignInView::showElapsed()
{
    const qint64 seconds = m_elapsed.isValid() ? m_elapsed.elapsed() / 1000 : 0;
    m_waitNote->setText(QStringLiteral("Первый вход может занять несколько минут · прошло %1:%2")
                            .arg(seconds / 60)
                            .arg(seconds % 60, 2, 10, QLatin1Char('0')));
}

void SignInView::refresh()
{
    const bool unlocking = unlockOnly();
    for (QLineEdit* field : {m_emailField, m_passwordField, m_codeField, m_keychainField})
        field->setEnabled(!m_busy);
    m_emailField->setVisible(!unlocking);
    m_passwordField->setVisible(!unlocking);
    m_codeField->setVisible(m_needsCode && !unlocking);
    // Once the keychain is open the model keeps the passphrase, so the field goes.
    m_keychainField->setVisible(unlocking || m_needsPassphrase);
    m_keychainNote->setVisible(unlocking || m_needsPassphrase);
    m_errorLabel->setText(m_error.value_or(QString()));
    // The layout asks a wrapping label for one line only; the advice texts take two.
    if (m_error)
        m_errorLabel->setFixedHeight(m_errorLabel->heightForWidth(errorWidth));
    m_errorLabel->setVisible(m_error.has_value());
    m_releasesLink->setVisible(m_notInstalled && !m_busy);
    m_button->setText(unlocking     ? QStringLiteral("Продолжить")
                      : m_needsCode ? QStringLiteral("Подтвердить код")
                                    : QStringLiteral("Войти"));
    m_button->setBusy(m_busy);
    m_button->setEnabled(canSubmit());
    m_waitNote->setVisible(m_signingIn);
}
