#include "ui/UpdateSheet.h"

#include "WindowTestSupport.h"
#include "platform/Platform.h"
#include "support/HttpServer.h"
#include "support/UpdateFixture.h"
#include "ui/RowPaint.h"

using namespace ModelTest;
using namespace WindowTest;
using Kind = AppModel::UpdateState::Kind;

namespace {

/// A signed-in window whose running bundle is 1.2 (15) and whose update server is on loopback.
struct UpdateWindow {
    UpdateFixture::Sandbox sandbox;
    StandinTools tools{sandbox.home.resourceDirectory()};
    HttpServer server;
    QJsonObject manifest;
    std::unique_ptr<AppModel> model;
    std::unique_ptr<MainWindow> window;

    explicit UpdateWindow(qint64 publishedBuild, QJsonObject extra = {},
                          std::optional<QByteArray> key = UpdateFixture::releaseKey().publicKey)
    {
        const QString bundle = sandbox.path("Applications/Quorrel.app");
        UpdateFixture::writeBundle(bundle, UpdateFixture::infoPlist(UpdateFixture::bundleID, "1.2", "15"));
        manifest = QJsonObject{{"version", "1.3"},
                               {"build", publishedBuild},
                               {"url", server.url("/Quorrel.zip").toString()},
                               {"sha256", QString(64, 'a')},
                               {"signature", UpdateFixture::signature("not a zip")},
                               {"size", 12'400'000}};
        for (auto it = extra.begin(); it != extra.end(); ++it)
            manifest.insert(it.key(), it.value());
        server.setHandler("/appcast.json", [this](const HttpServer::Request&) {
            return HttpServer::Response::json(QJsonDocument(manifest).toJson());
        });
        // Not the archive the manifest vouches for, and slow enough to be seen downloading.
        HttpServer::Response archive = HttpServer::Response::text("not a zip", "application/zip");
        archive.delay = std::chrono::milliseconds(800);
        server.setResponse("/Quorrel.zip", archive);

        PurchasesCache::save(history(3), email);
        tools.setScenario(scenario(QJsonArray{signedInAs(email)}, QJsonObject{{"signedIn", "yes"}, {"email", email}}));
        // The start-up's automatic check is due.
        Platform::preferences()->remove("lastUpdateCheck");
        model = std::make_unique<AppModel>(
            AppModel::Endpoints{offline.lookup, server.url("/appcast.json"), bundle, std::move(key)});
        window = std::make_unique<MainWindow>(model.get());
        window->show();
    }
    ~UpdateWindow() { settle(*model); }

    /// Signed in, with the start-up's automatic check answered.
    bool ready()
    {
        return AsyncTest::waitUntil([&] {
            return window->mainView() && server.requests("/appcast.json").size() == 1
                   && model->updateState().kind != Kind::checking;
        });
    }
    /// The open sheet; a closed one waits for deletion a while.
    UpdateSheet* sheet() const
    {
        UpdateSheet* sheet = window->mainView()->findChild<UpdateSheet*>();
        return sheet && sheet->isVisible() ? sheet : nullptr;
    }
    QWidget* banner() const { return window->mainView()->findChild<QWidget*>("updateBanner"); }
};

} // namespace

TEST(UpdateViews, AnOfferShowsTheBannerAndOnAskingASheetWithItsNotesDatePageAndWhyThisBuildCannotInstall)
{
    const QString notes = "Исправлена установка на iOS 17.\nНовая строка поиска, которая длиннее одной строки листа и "
                          "потому переносится, а не обрезается.";
    UpdateWindow w(16, {{"notes", notes}, {"date", "2026-11-20T09:30:00Z"}, {"page", "https://example.com/releases"}},
                   std::nullopt);
    ASSERT_TRUE(w.ready());
    ASSERT_TRUE(AsyncTest::waitUntil([&] { return w.banner()->isVisible(); }));
    EXPECT_EQ(shown(w.banner(), "updateBannerTitle"), "Доступна версия 1.3");
    EXPECT_TRUE(shown(w.banner(), "updateBannerDetail").value_or("").startsWith("Исправлена установка на iOS 17."));
    EXPECT_EQ(w.sheet(), nullptr) << "nothing opens unasked for an automatic check's offer";

    QTest::mouseClick(w.banner()->findChild<QPushButton*>("updateBannerMore"), Qt::LeftButton);
    ASSERT_TRUE(AsyncTest::waitUntil([&] { return w.sheet() != nullptr; }));
    EXPECT_EQ(shownTexts<QLabel>(w.sheet()),
              QStringList({"Доступна версия 1.3", "сейчас у вас 1.2 · 12,4 МБ · 20 нояб. 2026", notes,
                           "<a href=\"page\">Открыть страницу</a>",
                           "Эта сборка ставит обновления только из подписанного выпуска — скачай новую версию со "
                           "страницы проекта."}));
    EXPECT_EQ(shownTexts<QPushButton>(w.sheet()), QStringList({"Закрыть", "Открыть страницу"}));
    // The wrapped notes are whole: the sheet grows rather than cutting them.
    const auto* label = w.sheet()->findChild<QLabel*>("updateNotes");
    EXPECT_GE(label->height(), label->heightForWidth(label->width()));
}

TEST(UpdateViews, OnlyAManualCheckOpensTheSheetWhichFollowsARetryAndAFailedInstallation)
{
    UpdateWindow w(15);
    ASSERT_TRUE(w.ready());
    QTest::qWait(100);
    EXPECT_EQ(w.sheet(), nullptr);
    EXPECT_FALSE(w.banner()->isVisible());

    w.window->checkUpdatesAction()->trigger();
    ASSERT_TRUE(AsyncTest::waitUntil([&] { return w.sheet() != nullptr; }));
    UpdateSheet* sheet = w.sheet();
    ASSERT_TRUE(AsyncTest::waitUntil([&] { return w.model->updateState().kind == Kind::upToDate; }));
    EXPECT_EQ(shownTexts<QLabel>(sheet), QStringList({"Установлена последняя версия", "версия 1.2 (15)"}));
    EXPECT_EQ(shownTexts<QPushButton>(sheet), QStringList{"Закрыть"});
    QTest::mouseClick(sheet->findChild<QPushButton*>("updateClose"), Qt::LeftButton);
    ASSERT_TRUE(AsyncTest::waitUntil([&] { return w.sheet() == nullptr; }));
    EXPECT_EQ(w.model->updateState().kind, Kind::idle);
    EXPECT_FALSE(w.window->mainView()->navigation()->showUpdateSheet());
    EXPECT_TRUE(shown(w.window->mainView(), "footerVersion").value_or("").endsWith("версия 1.2 (15)"));

    // The window opens no new sheet while the closed one awaits deletion.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    w.server.setResponse("/appcast.json", HttpServer::Response::json("{}", 500));
    w.window->mainView()->findChild<QAction*>("footerCheckUpdatesAction")->trigger();
    ASSERT_TRUE(AsyncTest::waitUntil([&] { return w.sheet() != nullptr; }));
    ASSERT_TRUE(AsyncTest::waitUntil([&] { return w.model->updateState().kind == Kind::failed; }));
    EXPECT_EQ(shownTexts<QLabel>(w.sheet()),
              QStringList({"Не получилось проверить обновления", "версия 1.2 (15)", w.model->updateState().message}));
    w.server.setHandler("/appcast.json", [&](const HttpServer::Request&) {
        w.manifest.insert("build", 16);
        return HttpServer::Response::json(QJsonDocument(w.manifest).toJson());
    });
    QTest::mouseClick(w.sheet()->findChild<QPushButton*>("updateRetry"), Qt::LeftButton);
    ASSERT_TRUE(AsyncTest::waitUntil([&] { return w.model->updateState().kind == Kind::available; }));
    sheet = w.sheet();
    const QString offer = "сейчас у вас 1.2 · 12,4 МБ";
    EXPECT_EQ(shownTexts<QLabel>(sheet), QStringList({"Доступна версия 1.3", offer}));
    EXPECT_EQ(shownTexts<QPushButton>(sheet), QStringList({"Закрыть", "Обновить и перезапустить"}));
    EXPECT_TRUE(sheet->findChild<QPushButton*>("updateInstall")->isDefault());
    QTest::mouseClick(sheet->findChild<QPushButton*>("updateInstall"), Qt::LeftButton);

    // The archive is slow to come: no second installation, and no retry, while it downloads.
    ASSERT_TRUE(AsyncTest::waitUntil([&] { return w.model->updateState().kind == Kind::downloading; }));
    EXPECT_EQ(shownTexts<QLabel>(sheet), QStringList({"Обновление", offer, "Скачиваю и проверяю контрольную сумму…"}));
    EXPECT_EQ(shownTexts<QPushButton>(sheet), QStringList{"Закрыть"});
    EXPECT_FALSE(w.banner()->isVisible());

    // The bytes are not what the manifest vouched for.
    ASSERT_TRUE(AsyncTest::waitUntil([&] { return w.model->updateState().kind == Kind::failed; }));
    EXPECT_EQ(w.sheet(), sheet);
    EXPECT_EQ(shownTexts<QLabel>(sheet),
              QStringList({"Не получилось проверить обновления", offer, w.model->updateState().message}));
    EXPECT_EQ(sheet->findChild<QLabel*>("updateError")->palette().color(QPalette::WindowText), RowPaint::red());
    EXPECT_EQ(shownTexts<QPushButton>(sheet), (QStringList{"Закрыть", "Повторить"}));
    EXPECT_FALSE(w.banner()->isVisible());

    // Closed, the failure gives way to the offer, whose banner button opens the sheet again.
    QTest::mouseClick(sheet->findChild<QPushButton*>("updateClose"), Qt::LeftButton);
    ASSERT_TRUE(AsyncTest::waitUntil([&] { return w.sheet() == nullptr; }));
    ASSERT_TRUE(w.banner()->isVisible());
    EXPECT_TRUE(
        shown(w.banner(), "updateBannerDetail").value_or("").startsWith("Нажми «Обновить», чтобы поставить её"));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QTest::mouseClick(w.banner()->findChild<QPushButton*>("updateBannerUpdate"), Qt::LeftButton);
    EXPECT_TRUE(AsyncTest::waitUntil([&] { return w.sheet() != nullptr; }));
}
