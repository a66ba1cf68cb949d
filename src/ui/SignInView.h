#pragma once

#include <QCoroTask>
#include <QElapsedTimer>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <optional>

class AppModel;
class IPAToolError;
class ProminentButton;
class QLabel;
class QLineEdit;
class QPushButton;

/// What the window shows while signed out: the Apple Account e-mail and password, then the
/// verification code when the account asks for one, and the passphrase of ipatool's own keychain
/// when ipatool keeps the sign-in in a locked file.
class SignInView : public QWidget {
    Q_OBJECT
public:
    explicit SignInView(AppModel* model, QWidget* parent = nullptr);

    bool canSubmit() const;
    /// Puts the cursor where the user types next: the e-mail, or the code or passphrase when asked for.
    void focusFirstField();
    /// Starts a sign-in (or keychain unlock) attempt; does nothing while the button would be disabled.
    void submit();

private:
    struct Outcome {
        bool needsCode = false;
        bool needsPassphrase = false;
        bool notInstalled = false;
        std::optional<QString> error;
    };

    static QCoro::Task<> attempt(QPointer<SignInView> view, AppModel* model, bool unlockOnly, QString email,
                                 QString password, QString code, QString passphrase);
    static Outcome outcomeOf(const std::exception& failure);
    /// Start-up stopped at the locked keychain: only its passphrase is asked for.
    bool unlockOnly() const;
    void finish(Outcome outcome);
    void refresh();
    void showElapsed();

    AppModel* m_model;

    // The form; it lives and dies with the view, so a later sign-out starts empty.
    QString m_email;
    QString m_password;
    QString m_code;
    QString m_passphrase;
    bool m_needsCode = false;
    bool m_needsPassphrase = false;
    bool m_notInstalled = false;
    bool m_busy = false;
    bool m_signingIn = false;
    std::optional<QString> m_error;

    QLineEdit* m_emailField;
    QLineEdit* m_passwordField;
    QLineEdit* m_codeField;
    QLineEdit* m_keychainField;
    QLabel* m_keychainNote;
    QLabel* m_errorLabel;
    QPushButton* m_releasesLink;
    ProminentButton* m_button;
    QLabel* m_waitNote;
    QTimer m_clock;
    QElapsedTimer m_elapsed;
};
