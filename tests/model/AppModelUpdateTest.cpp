#include "model/ModelTestSupport.h"
#include "platform/Platform.h"
#include "support/UpdateFixture.h"

#include <QSettings>

using namespace UpdateFixture;
using ModelTest::logTexts;
using State = AppModel::UpdateState;
using Kind = State::Kind;

// Found by GoogleTest through the state's own namespace.
void PrintTo(const State& state, std::ostream* os)
{
    *os << "{" << int(state.kind) << ", " << state.progress << ", \"" << state.message.toStdString() << "\"}";
}

TEST(AppModelUpdate, ChecksRunDailyOrWhenAskedAndAnOfferInstallsOnlyOnceShowsWhyItFailedAndStaysUntilNothingIsNewer)
{
    // What the server publishes: the running build at first, then build 16 as a sound, signed
    // archive of some other application, which fails the last check right after 0.9 is reported.
    Sandbox sandbox;
    writeBundle(sandbox.path("staging/Quorrel.app"), infoPlist("com.example.Other", "1.3", "16"));
    const QByteArray archive = zip(sandbox.path("staging"), {"Quorrel.app"});
    qint64 publishedBuild = 15;
    int manifestStatus = 200;
    HttpServer server;
    server.setHandler("/appcast.json", [&](const HttpServer::Request&) {
        const QJsonObject manifest{{"version", "1.3"},
                                   {"build", publishedBuild},
                                   {"url", server.url("/Quorrel.zip").toString()},
                                   {"sha256", sha256(archive)},
                                   {"signature", signature(archive)}};
        return HttpServer::Response::json(QJsonDocument(manifest).toJson(), manifestStatus);
    });
    const auto checks = [&] { return server.requests("/appcast.json").size(); };
    const QString bundle = sandbox.path("Applications/Quorrel.app");
    writeBundle(bundle, infoPlist(bundleID, "1.2", "15"));
    AppModel model({server.url(), server.url("/appcast.json"), bundle, releaseKey().publicKey});
    const std::unique_ptr<QSettings> settings = Platform::preferences();
    const auto lastCheck = [&] { return settings->value("lastUpdateCheck"); };
    const double now = QDateTime::currentSecsSinceEpoch();
    settings->setValue("lastUpdateCheck", now - AppModel::updateCheckIntervalSeconds - 5);
    AsyncTest::await(model.checkForUpdates(false));
    EXPECT_NEAR(lastCheck().toDouble(), now, 5);
    // Nothing newer on an automatic check: back to idle, and silent (the log is checked below).
    EXPECT_EQ(model.updateState().kind, Kind::idle);
    QSignalSpy stateSpy(&model, &AppModel::updateStateChanged);
    AsyncTest::await(model.checkForUpdates(false));
    EXPECT_EQ(std::pair(checks(), stateSpy.count()), std::pair(qsizetype(1), qsizetype(0)));

    // A failed automatic check is silent but still counts for the day.
    manifestStatus = 500;
    settings->remove("lastUpdateCheck");
    AsyncTest::await(model.checkForUpdates(false));
    EXPECT_EQ(model.updateState().kind, Kind::idle); // and silent, as the log shows below
    AsyncTest::await(model.checkForUpdates(false));
    EXPECT_EQ(checks(), 2);

    // Manual checks always run, say what they found and leave the day's time alone.
    const QVariant stored = lastCheck();
    AsyncTest::await(model.checkForUpdates(true));
    EXPECT_EQ(model.updateState(), State::failed("Сервер обновлений ответил чем-то неожиданным"));
    EXPECT_EQ(logTexts(model, true),
              QStringList{"! Проверка обновлений: Сервер обновлений ответил чем-то неожиданным"});
    manifestStatus = 200;
    QList<State> states;
    QObject::connect(&model, &AppModel::updateStateChanged, [&] { states.append(model.updateState()); });
    AsyncTest::await(model.checkForUpdates(true));
    EXPECT_EQ(states, (QList<State>{State{Kind::checking, 0, {}}, State{Kind::upToDate, 0, {}}}));
    EXPECT_EQ(logTexts(model).last(), "Обновлений нет, версия 1.2 (15)");
    EXPECT_EQ(lastCheck(), stored);

    // An offer from any check, automatic here, is installed only once.
    publishedBuild = 16;
    HttpServer::Response response = HttpServer::Response::text(archive, "application/zip");
    response.delay = std::chrono::milliseconds(500);
    server.setResponse("/Quorrel.zip", response);
    AsyncTest::await(model.installUpdate()); // nothing offered yet: the log and the state are checked below
    settings->remove("lastUpdateCheck");
    AsyncTest::await(model.checkForUpdates(false));
    ASSERT_EQ(model.updateInfo().value_or(UpdateInfo{}).build, 16);
    states.clear();
    auto first = model.installUpdate();
    AsyncTest::await(model.checkForUpdates(true));
    AsyncTest::await(model.installUpdate());
    AsyncTest::await(std::move(first));
    EXPECT_EQ(server.requests("/Quorrel.zip").size(), 1);
    EXPECT_EQ(checks(), 5) << "a check must not offer the update being installed again";

    // The 0.9 still on its way when the check failed must not hide the failure.
    QCoreApplication::processEvents();
    EXPECT_EQ(states, (QList<State>{State::downloading(0), State::downloading(0.6), State::downloading(0.75),
                                    State::failed("В архиве нет приложения «Quorrel»")}));
    EXPECT_EQ(logTexts(model, true).mid(2), (QStringList{"Доступно обновление: версия 1.3", "Скачиваю версию 1.3…",
                                                         "! Обновление: В архиве нет приложения «Quorrel»"}));

    // A failed check keeps the offer; one that finds nothing newer withdraws it.
    manifestStatus = 404;
    AsyncTest::await(model.checkForUpdates(true));
    EXPECT_TRUE(model.updateInfo());
    manifestStatus = 200;
    publishedBuild = 15;
    AsyncTest::await(model.checkForUpdates(true));
    EXPECT_EQ(model.updateInfo(), std::nullopt);
}
