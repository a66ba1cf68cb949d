#pragma once

#include <QCoroTask>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <optional>

class AppModel;
class ProminentButton;
class QLabel;
class QLineEdit;

/// What the window shows while signed out: the Apple Account e-mail and password, then the
/// verification code when the account asks for one.
class SignInView : public QWidget {
    Q_OBJECT
public:
    explicit SignInView(AppModel* model, QWidget* parent = nullptr);

    bool canSubmit() const;
    /// Starts a sign-in attempt; does nothing while the button would be disabled.
    void submit();

private:
    static QCoro::Task<> signIn(QPointer<SignInView> view, AppModel* model, QString email, QString password,
                                QString code);
    void finish(bool needsCode, std::optional<QString> error);
    void refresh();

    AppModel* m_model;

    // The form; it lives and dies with the view, so a later sign-out starts empty.
    QString m_email;
    QString m_password;
    QString m_code;
    bool m_needsCode = false;
    bool m_busy = false;
    std::optional<QString> m_error;

    QLineEdit* m_emailField;
    QLineEdit* m_passwordField;
    QLineEdit* m_codeField;
    QLabel* m_errorLabel;
    ProminentButton* m_button;
};
