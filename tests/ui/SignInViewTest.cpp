#include "ui/SignInView.h"

#include "WindowTestSupport.h"
#include "platform/Platform.h"
#include "store/IPAToolError.h"

using namespace ModelTest;

namespace {

const QString codeHint = "Apple прислал код на доверенное устройство — введи его.";

struct SignInFixture {
    TempHome home;
    StandinTools tools{home.resourceDirectory(), {"ipatool"}};
    AppModel model{WindowTest::offline};
    QPointer<SignInView> view = new SignInView(&model);

    SignInFixture() { view->show(); }
    ~SignInFixture()
    {
        delete view;
        model.stopDeviceWatch();
    }

    QLineEdit* field(const char* name) const { return view->findChild<QLineEdit*>(name); }
    QPushButton* button() const { return view->findChild<QPushButton*>("signInButton"); }
    std::optional<QString> error() const { return WindowTest::shown(view, "signInError"); }
    bool idle() const { return field("signInEmail")->isEnabled(); }
    /// The button's text, and whether the code field shows.
    QString step() const { return button()->text() + (field("signInCode")->isVisibleTo(view) ? " + code" : ""); }
};

QJsonObject loginAnswer(const QString& args, const QString& answer, int exit = 0)
{
    return rule("ipatool", "auth login " + QRegularExpression::escape(args) + "$", {out(answer)}, exit);
}

} // namespace

TEST(SignInView, ButtonNeedsEmailAndPasswordAFailureShowsItsTextAndTheCodeStepLastsUntilSignedIn)
{
    SignInFixture f;
    QFile::remove(f.tools.path("ipatool"));
    EXPECT_FALSE(f.button()->isEnabled());
    EXPECT_EQ(f.step(), "Войти");
    EXPECT_EQ(f.error(), std::nullopt);

    QTest::keyClicks(f.field("signInPassword"), "secret");
    EXPECT_FALSE(f.button()->isEnabled()) << "no e-mail";
    QTest::keyClicks(f.field("signInEmail"), "ivan@example.com");
    EXPECT_TRUE(f.button()->isEnabled());
    f.field("signInPassword")->clear();
    EXPECT_FALSE(f.button()->isEnabled()) << "empty password, whatever the e-mail";
    QTest::keyClick(f.field("signInEmail"), Qt::Key_Return);
    EXPECT_TRUE(f.idle()) << "Return does nothing while the button is disabled";

    QTest::keyClicks(f.field("signInPassword"), "secret");
    QTest::keyClick(f.field("signInPassword"), Qt::Key_Return);
    ASSERT_TRUE(AsyncTest::waitUntil([&] { return f.idle(); }));
    EXPECT_EQ(f.error(), IPAToolError(IPAToolError::Kind::notInstalled).description());
    EXPECT_EQ(f.view->findChild<QPushButton*>("signInReleases")->isVisibleTo(f.view), Platform::isLinux());
    EXPECT_EQ(f.step(), "Войти");
    EXPECT_TRUE(f.button()->isEnabled());

    // With ipatool back, the two-factor step. A trailing space in the e-mail is sent as typed: the
    // rules match the arguments exactly.
    ASSERT_TRUE(QFile::link(StandinTools::programPath(), f.tools.path("ipatool")));
    const QString email = "ivan@example.com ";
    const QString askCode =
        ipatoolLine({{"message", "2FA code is required; run the command again and supply a code using the "
                                 "`--auth-code` flag"}});
    const QString wrongCode =
        ipatoolLine({{"error", "failed to log in: an invalid 2FA code was supplied"}, {"success", false}});
    f.tools.setScenario(
        scenario(QJsonArray{loginAnswer("-e " + email + " -p secret", askCode),
                            loginAnswer("-e " + email + " -p secret --auth-code 111111", wrongCode, 1),
                            withState(loginAnswer("-e " + email + " -p secret --auth-code 123456",
                                                  ipatoolLine({{"email", "ivan@example.com"}, {"success", true}})),
                                      {}, {{"signedIn", "yes"}, {"email", "ivan@example.com"}}),
                            signedInAs("ivan@example.com")}
                     + historyPages(1),
                 {{"signedIn", "no"}}));

    f.field("signInEmail")->setText(email);
    QTest::mouseClick(f.button(), Qt::LeftButton);
    EXPECT_FALSE(f.idle()) << "the fields are locked while signing in";
    EXPECT_FALSE(f.button()->isEnabled());
    ASSERT_TRUE(AsyncTest::waitUntil([&] { return f.idle(); }));
    EXPECT_EQ(f.step(), "Подтвердить код + code");
    EXPECT_EQ(f.error(), codeHint);

    EXPECT_EQ(f.view->focusWidget(), f.field("signInCode"));
    QTest::keyClicks(f.field("signInCode"), "1a1 1-11");
    EXPECT_EQ(f.field("signInCode")->text(), "11111") << "digits only";
    EXPECT_FALSE(f.button()->isEnabled()) << "five digits are not enough";
    QTest::keyClicks(f.field("signInCode"), "19");
    EXPECT_EQ(f.field("signInCode")->text(), "111111") << "six at most";
    ASSERT_TRUE(f.button()->isEnabled());
    QTest::keyClick(f.field("signInCode"), Qt::Key_Return);
    ASSERT_TRUE(AsyncTest::waitUntil([&] { return f.idle(); }));
    EXPECT_EQ(f.step(), "Подтвердить код + code") << "a wrong code keeps the code step";
    EXPECT_EQ(f.error(), codeHint);

    f.field("signInCode")->setText("123456");
    QTest::mouseClick(f.button(), Qt::LeftButton);
    // The window drops the view once signed in, while the attempt has yet to report back.
    delete f.view;
    ASSERT_TRUE(AsyncTest::waitUntil([&] { return f.model.stage() == AppModel::Stage::signedIn; }));
    ASSERT_TRUE(AsyncTest::waitUntil([&] { return !f.model.syncProgress() && f.model.apps().size() == 1; }));
}

TEST(SignInView, LockedKeychainAtStartUpAsksOnlyForItsPassphrase)
{
    SignInFixture f;
    f.tools.setScenario(scenario(fileKeyring("ключ") + QJsonArray{signedInAs("ivan@example.com")} + historyPages(1),
                                 {{"keyring", "file"}, {"signedIn", "yes"}, {"email", "ivan@example.com"}}));
    AsyncTest::await(f.model.bootstrap());
    EXPECT_FALSE(f.field("signInEmail")->isVisibleTo(f.view));
    EXPECT_TRUE(f.field("signInKeychain")->isVisibleTo(f.view));

    f.field("signInKeychain")->setText("не тот");
    QTest::keyClick(f.field("signInKeychain"), Qt::Key_Return);
    ASSERT_TRUE(AsyncTest::waitUntil([&] { return f.idle(); }));
    EXPECT_EQ(f.error(), "Пароль связки ключей ipatool не подошёл");
    EXPECT_TRUE(f.model.keychainLocked());

    f.field("signInKeychain")->setText("ключ");
    QTest::mouseClick(f.button(), Qt::LeftButton);
    delete f.view;
    ASSERT_TRUE(AsyncTest::waitUntil([&] { return !f.model.syncProgress() && f.model.apps().size() == 1; }));
}

TEST(SignInView, SignInIntoAFileKeyringAsksForThePassphrase)
{
    const QString passphrase = "Ключ-связки 7391";
    SignInFixture f;
    // Nothing is stored yet, so ipatool tells that nobody is signed in without the passphrase.
    const QJsonObject login =
        withState(rule("ipatool", QRegularExpression::escape("--keychain-passphrase=" + passphrase + " auth login "),
                       {sleepFor(300), out(ipatoolLine({{"email", "ivan@example.com"}, {"success", true}}))}),
                  {}, {{"signedIn", "yes"}, {"email", "ivan@example.com"}});
    f.tools.setScenario(scenario(QJsonArray{withState(signedOutInfo(), {{"signedIn", "no"}})} + fileKeyring(passphrase)
                                     + QJsonArray{login, signedInAs("ivan@example.com")} + historyPages(1),
                                 {{"keyring", "file"}, {"signedIn", "no"}}));
    AsyncTest::await(f.model.bootstrap());
    QTest::keyClicks(f.field("signInEmail"), "ivan@example.com");
    QTest::keyClicks(f.field("signInPassword"), "secret");
    QTest::mouseClick(f.button(), Qt::LeftButton);
    const QString wait = f.view->findChild<QLabel*>("signInWait")->text();
    EXPECT_TRUE(wait.startsWith("Первый вход может занять несколько минут · прошло 0:0")) << wait.toStdString();
    ASSERT_TRUE(AsyncTest::waitUntil([&] { return f.idle(); }));
    EXPECT_TRUE(f.field("signInKeychain")->isVisibleTo(f.view));

    f.field("signInKeychain")->setText(passphrase);
    QTest::keyClick(f.field("signInKeychain"), Qt::Key_Return);
    delete f.view;
    ASSERT_TRUE(AsyncTest::waitUntil([&] { return !f.model.syncProgress() && f.model.apps().size() == 1; }));
}
