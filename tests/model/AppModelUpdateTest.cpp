#include "model/AppModel.h"

#include "model/ModelTestSupport.h"
#include "platform/Platform.h"
#include "support/QtPrinters.h"
#include "support/UpdateFixture.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QSignalSpy>

#include <gtest/gtest.h>

using namespace UpdateFixture;
using State = AppModel::UpdateState;

// Found by GoogleTest through the state's own namespace.
void PrintTo(const State& state, std::ostream* os)
{
    *os << "{" << int(state.kind) << ", " << state.progress << ", \"" << state.message.toStdString() << "\"}";
}

namespace {

const QString badManifest = "Сервер обновлений ответил чем-то неожиданным";

State of(State::Kind kind)
{
    State state;
    state.kind = kind;
    return state;
}

struct Fixture {
    Sandbox sandbox;
    HttpServer server;
    QString bundle = sandbox.path("Applications/Quorrel.app");
    qint64 publishedBuild = 15;
    int manifestStatus = 200;
    QString archiveDigest = QString(64, 'a');
    QString archiveSignature;

    Fixture()
    {
        writeBundle(bundle, infoPlist(bundleID, "1.2", "15"));
        server.setHandler("/appcast.json", [this](const HttpServer::Request&) {
            const QJsonObject manifest{{"version", "1.3"},
                                       {"build", publishedBuild},
                                       {"url", server.url("/Quorrel.zip").toString()},
                                       {"sha256", archiveDigest},
                                       {"signature", archiveSignature}};
            return HttpServer::Response::json(QJsonDocument(manifest).toJson(), manifestStatus);
        });
    }
    AppModel::Endpoints endpoints() const
    {
        return {.lookup = server.url(),
                .updateManifest = server.url("/appcast.json"),
                .updateBundle = bundle,
                .updatePublicKey = releaseKey().publicKey};
    }
    qsizetype checks() const { return server.requests("/appcast.json").size(); }
    /// Publishes build 16 as a sound, signed archive of some other application: it fails the
    /// last check, right after 0.9 is reported.
    void publishOtherApp(std::chrono::milliseconds delay = {})
    {
        publishedBuild = 16;
        writeBundle(sandbox.path("staging/Quorrel.app"), infoPlist("com.example.Other", "1.3", "16"));
        const QByteArray archive = zip(sandbox.path("staging"), {"Quorrel.app"});
        archiveDigest = sha256(archive);
        archiveSignature = signature(archive);
        HttpServer::Response response = HttpServer::Response::text(archive, "application/zip");
        response.delay = delay;
        server.setResponse("/Quorrel.zip", response);
    }
};

std::optional<double> lastCheck()
{
    const QVariant value = Platform::preferences()->value("lastUpdateCheck");
    return value.isValid() ? std::optional<double>(value.toDouble()) : std::nullopt;
}

double now()
{
    return QDateTime::currentMSecsSinceEpoch() / 1000.0;
}

} // namespace

TEST(AppModelUpdate, AutomaticChecksRunOnceADayEvenWhenTheyFailAndManualOnesAlwaysAndSayWhatTheyFound)
{
    Fixture f;
    AppModel model(f.endpoints());
    Platform::preferences()->setValue("lastUpdateCheck", now() - AppModel::updateCheckIntervalSeconds - 5);
    AsyncTest::await(model.checkForUpdates(false));
    EXPECT_EQ(f.checks(), 1);
    EXPECT_NEAR(lastCheck().value_or(0), now(), 5);
    // Nothing newer on an automatic check: back to idle, nothing logged.
    EXPECT_EQ(model.updateState(), of(State::Kind::idle));
    EXPECT_TRUE(model.log().isEmpty());
    QSignalSpy stateSpy(&model, &AppModel::updateStateChanged);
    AsyncTest::await(model.checkForUpdates(false));
    EXPECT_EQ(f.checks(), 1);
    EXPECT_EQ(stateSpy.count(), 0);

    // A failed automatic check is silent but still counts for the day.
    f.manifestStatus = 500;
    Platform::preferences()->remove("lastUpdateCheck");
    AsyncTest::await(model.checkForUpdates(false));
    EXPECT_EQ(model.updateState(), of(State::Kind::idle));
    EXPECT_TRUE(model.log().isEmpty());
    EXPECT_NEAR(lastCheck().value_or(0), now(), 5);
    AsyncTest::await(model.checkForUpdates(false));
    EXPECT_EQ(f.checks(), 2);

    const double stored = *lastCheck();
    AsyncTest::await(model.checkForUpdates(true));
    EXPECT_EQ(model.updateState(), State::failed(badManifest));
    ASSERT_EQ(model.log().size(), 1);
    EXPECT_EQ(model.log()[0].text, "Проверка обновлений: " + badManifest);
    EXPECT_TRUE(model.log()[0].isError);

    f.manifestStatus = 200;
    QList<State> states;
    QObject::connect(&model, &AppModel::updateStateChanged, [&] { states.append(model.updateState()); });
    AsyncTest::await(model.checkForUpdates(true));
    EXPECT_EQ(states, (QList<State>{of(State::Kind::checking), of(State::Kind::upToDate)}));
    EXPECT_EQ(ModelTest::logTexts(model).last(), "Обновлений нет, версия 1.2 (15)");
    EXPECT_EQ(f.checks(), 4);
    EXPECT_EQ(lastCheck(), stored);
}

TEST(AppModelUpdate, AnOfferFromAnyCheckInstallsOnlyOnceShowsWhyItFailedAndStaysUntilACheckFindsNothing)
{
    Fixture f;
    f.publishOtherApp(std::chrono::milliseconds(500));
    AppModel model(f.endpoints());
    AsyncTest::await(model.installUpdate()); // nothing offered yet
    EXPECT_EQ(model.updateState(), of(State::Kind::idle));
    EXPECT_TRUE(model.log().isEmpty());
    EXPECT_TRUE(f.server.requests("/Quorrel.zip").isEmpty());

    Platform::preferences()->remove("lastUpdateCheck");
    AsyncTest::await(model.checkForUpdates(false));
    ASSERT_TRUE(model.updateInfo());
    EXPECT_EQ(model.updateInfo()->build, 16);
    model.dismissUpdateResult(); // nothing to dismiss while an offer shows
    EXPECT_EQ(model.updateState(), of(State::Kind::available));
    QList<State> states;
    QObject::connect(&model, &AppModel::updateStateChanged, [&] { states.append(model.updateState()); });
    auto first = model.installUpdate();
    EXPECT_TRUE(model.isUpdating());
    AsyncTest::await(model.checkForUpdates(true));
    EXPECT_EQ(model.updateState().kind, State::Kind::downloading) << "a check must not offer the update again";
    AsyncTest::await(model.installUpdate());
    AsyncTest::await(std::move(first));
    EXPECT_EQ(f.server.requests("/Quorrel.zip").size(), 1);
    EXPECT_EQ(f.checks(), 1);
    EXPECT_FALSE(model.isUpdating());

    const QString notAnApp = "В архиве нет приложения «Quorrel»";
    // The 0.9 still on its way when the check failed must not hide the failure.
    QCoreApplication::processEvents();
    EXPECT_EQ(states, (QList<State>{State::downloading(0), State::downloading(0.6), State::downloading(0.75),
                                    State::failed(notAnApp)}));
    EXPECT_EQ(ModelTest::logTexts(model),
              (QStringList{"Доступно обновление: версия 1.3", "Скачиваю версию 1.3…", "Обновление: " + notAnApp}));
    EXPECT_TRUE(model.log().last().isError);
    model.dismissUpdateResult();
    EXPECT_EQ(model.updateState(), of(State::Kind::available));

    // A failed check keeps the offer; one that finds nothing newer withdraws it.
    f.manifestStatus = 404;
    AsyncTest::await(model.checkForUpdates(true));
    EXPECT_TRUE(model.updateInfo());
    f.manifestStatus = 200;
    f.publishedBuild = 15;
    AsyncTest::await(model.checkForUpdates(true));
    EXPECT_EQ(model.updateInfo(), std::nullopt);
}
