#include "ui/LibraryView.h"

#include "WindowTestSupport.h"
#include "support/HttpServer.h"
#include "support/QtPrinters.h"
#include "ui/AppRowDelegate.h"
#include "ui/ArtworkCache.h"
#include "ui/LibraryListModel.h"
#include "ui/MainView.h"
#include "ui/Navigation.h"
#include "ui/RowPaint.h"

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

using namespace ModelTest;
using namespace WindowTest;

namespace {

LibraryView* library(MainWindow& window)
{
    return window.mainView()->findChild<LibraryView*>("libraryView");
}

RowDelegate::Control control(LibraryView* view, int row, const QString& id)
{
    const QModelIndex index = view->rows()->index(row);
    for (const RowDelegate::Control& control : view->delegate()->controls(view->list()->visualRect(index), index)) {
        if (control.id == id)
            return control;
    }
    ADD_FAILURE() << "no control " << id.toStdString();
    return {};
}

QString stateShown(LibraryView* view)
{
    return view->findChild<QStackedWidget*>()->currentWidget()->objectName();
}

} // namespace

TEST(LibraryView, SearchIsTrimmedAndCaseBlindAndAnEmptyResultSaysSo)
{
    QList<PurchasedApp> apps = history(5, 2);
    apps[1].name = "Weather Plus";
    apps[3].bundleID = "com.Radio.gone";
    SignedIn signedIn(apps);
    ASSERT_TRUE(signedIn.ready());
    LibraryView* view = library(signedIn.window);
    EXPECT_EQ(view->rows()->rowCount(), 5);

    auto* search = view->findChild<QLineEdit*>("librarySearch");
    EXPECT_EQ(search->placeholderText(), "Поиск по названию или bundle id");
    QTest::keyClicks(search, "  wEATHER ");
    EXPECT_EQ(signedIn.model.search(), "  wEATHER ");
    ASSERT_EQ(view->rows()->rowCount(), 1);
    EXPECT_EQ(view->rows()->app(0).name, "Weather Plus");

    search->setText("radio");
    ASSERT_EQ(view->rows()->rowCount(), 1);
    EXPECT_EQ(view->rows()->app(0).bundleID, "com.Radio.gone");

    // The gone section shares the search and narrows it further.
    signedIn.window.mainView()->navigation()->setSection(SidebarSection::gone);
    auto* gone = signedIn.window.mainView()->findChild<LibraryView*>("goneView");
    EXPECT_EQ(gone->rows()->rowCount(), 1);

    search->setText("нет такого");
    EXPECT_EQ(stateShown(view), "libraryEmpty");
    EXPECT_EQ(view->findChild<QWidget*>("libraryEmpty")->findChild<QLabel*>("emptyHeadline")->text(),
              "Ничего не найдено");
    EXPECT_EQ(stateShown(gone), "goneEmpty");
    EXPECT_EQ(gone->findChild<QLabel*>("emptyHeadline")->text(), "Снятых приложений не нашлось");
}

TEST(LibraryView, AnEmptyHistorySaysWhatThatMeansRatherThanNothingFound)
{
    SignedIn signedIn({});
    ASSERT_TRUE(signedIn.ready());
    LibraryView* view = library(signedIn.window);
    ASSERT_TRUE(AsyncTest::waitUntil([&] { return stateShown(view) == "libraryEmptyHistory"; }));
    EXPECT_EQ(view->findChild<QWidget*>("libraryEmptyHistory")->findChild<QLabel*>("emptyHeadline")->text(),
              "История загрузок пуста");
}

TEST(RowPaint, ADownloadOfKnownSizeShowsBothAmountsInOneUnitAndItsShare)
{
    const qint64 mb = 1024 * 1024;
    EXPECT_EQ(RowPaint::downloadProgress(qint64(12.4 * mb), 87 * mb), "12,4 из 87 МБ · 14 %");
    EXPECT_EQ(RowPaint::downloadProgress(300 * 1024, 500 * 1024), "300 из 500 КБ · 60 %");
    EXPECT_EQ(RowPaint::downloadProgress(87 * mb, 87 * mb), "87 из 87 МБ · 100 %");
}

TEST(LibraryView, FirstFetchShowsProgressInsteadOfTheEmptyState)
{
    SignedIn signedIn({}, historyPages(150, 1500));
    ASSERT_TRUE(signedIn.ready());
    LibraryView* view = library(signedIn.window);
    ASSERT_TRUE(AsyncTest::waitUntil([&] { return signedIn.model.syncProgress().has_value(); }));
    EXPECT_EQ(stateShown(view), "libraryLoading");
    EXPECT_TRUE(view->findChild<QWidget*>("libraryProgress")->isVisible());
    ASSERT_TRUE(AsyncTest::waitUntil([&] { return stateShown(view) == "libraryList"; }, std::chrono::seconds(20)));
    EXPECT_EQ(view->rows()->rowCount(), 150);
}

TEST(LibraryView, RowFollowsItsDownloadAndNeedsAPhoneToInstall)
{
    const QJsonObject slowDownload =
        rule("ipatool", "download -i 5000 ",
             {QJsonObject{{"write", "{opt:-o}"}, {"bytes", 300000}, {"chunks", 6}, {"interval", 150}},
              out(ipatoolLine({{"output", "{json:opt:-o}"}, {"success", true}}))});
    SignedIn signedIn(history(3), {slowDownload});
    ASSERT_TRUE(signedIn.ready());
    LibraryView* view = library(signedIn.window);

    RowDelegate::Control install = control(view, 0, AppRowDelegate::installID);
    EXPECT_FALSE(install.enabled);
    EXPECT_FALSE(install.prominent);
    EXPECT_EQ(install.toolTip, "Подключи iPhone кабелем");
    EXPECT_TRUE(control(view, 0, AppRowDelegate::menuID).enabled) << "the menu works without a phone";

    // "Только скачать IPA" from the row's menu.
    const QRect menuRect = view->delegate()->controlRect(view->rows()->index(0), AppRowDelegate::menuID);
    QTest::mouseClick(view->list()->viewport(), Qt::LeftButton, {}, menuRect.center());
    auto* menu = view->findChild<QMenu*>("libraryRowMenu");
    ASSERT_NE(menu, nullptr);
    QStringList items;
    for (QAction* action : menu->actions())
        items << action->text();
    EXPECT_EQ(items, QStringList({"Только скачать IPA", "Выбрать версию…", "", "Скопировать bundle id",
                                  "Открыть страницу в App Store"}));
    menu->actions().first()->trigger();
    menu->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

    ASSERT_TRUE(
        AsyncTest::waitUntil([&] { return signedIn.model.activity(5000).kind == AppActivity::Kind::downloading; }));
    EXPECT_FALSE(control(view, 0, AppRowDelegate::menuID).enabled) << "a busy row locks its menu";
    EXPECT_TRUE(control(view, 1, AppRowDelegate::menuID).enabled) << "other rows stay usable";
    ASSERT_TRUE(AsyncTest::waitUntil([&] { return signedIn.model.activity(5000).isFinal(); }));
    EXPECT_EQ(signedIn.model.activity(5000), AppActivity::done("Скачано"));
    EXPECT_TRUE(control(view, 0, AppRowDelegate::menuID).enabled);
    EXPECT_TRUE(signedIn.model.downloadedBundleIDs().contains("com.example.app0"));

    // "Выбрать версию…" asks the window for the version sheet of that app.
    QTest::mouseClick(view->list()->viewport(), Qt::LeftButton, {}, menuRect.center());
    menu = view->findChild<QMenu*>("libraryRowMenu");
    ASSERT_NE(menu, nullptr);
    menu->actions().at(1)->trigger();
    const auto request = signedIn.window.mainView()->navigation()->versionRequest();
    ASSERT_TRUE(request);
    EXPECT_EQ(request->target.adamID, 5000);
    // The sheet's list must arrive before the model goes away with the test.
    ASSERT_TRUE(AsyncTest::waitUntil([&] { return signedIn.model.versionsByApp().contains(5000); }));
}

TEST(LibraryView, SubtitleLeavesOutWhatTheAppLacks)
{
    PurchasedApp app;
    app.bundleID = "com.example.bare";
    EXPECT_EQ(AppRowDelegate::subtitle(app), "com.example.bare");
    app.version = "3.2";
    app.purchaseDate = QDateTime(QDate(2020, 5, 6), QTime(12, 0));
    EXPECT_EQ(AppRowDelegate::subtitle(app), "com.example.bare · вер. 3.2 · 06.05.2020");
}

QByteArray redSquarePng()
{
    QImage image(60, 60, QImage::Format_ARGB32);
    image.fill(Qt::red);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return png;
}

TEST(ArtworkCache, FetchesEachIconOnceAndRemembersOnesThatFailed)
{
    HttpServer server;
    const QByteArray png = redSquarePng();
    server.setResponse("/icon.png", HttpServer::Response::text(png, "image/png"));
    server.setResponse("/broken.png", HttpServer::Response::text("not an image", "image/png"));

    ArtworkCache cache;
    QList<QUrl> loaded;
    QObject::connect(&cache, &ArtworkCache::loaded, [&](const QUrl& url) { loaded << url; });
    // Rows ask on every paint, also while the first request is still under way.
    EXPECT_EQ(cache.icon(server.url("/icon.png"), 40, 1.0), nullptr);
    EXPECT_EQ(cache.icon(server.url("/icon.png"), 40, 1.0), nullptr);
    EXPECT_EQ(cache.icon(server.url("/broken.png"), 40, 1.0), nullptr);
    ASSERT_TRUE(AsyncTest::waitUntil([&] { return server.requests().size() == 2 && !loaded.isEmpty(); }));
    QTest::qWait(100);
    EXPECT_EQ(server.requests("/icon.png").size(), 1);

    const QPixmap* icon = cache.icon(server.url("/icon.png"), 40, 1.0);
    ASSERT_NE(icon, nullptr);
    EXPECT_EQ(icon->size(), QSize(40, 40));
    EXPECT_EQ(cache.icon(server.url("/broken.png"), 40, 1.0), nullptr);
    QTest::qWait(100);
    EXPECT_EQ(server.requests("/broken.png").size(), 1) << "a broken icon is not asked for again";
    EXPECT_EQ(loaded, QList<QUrl>{server.url("/icon.png")});
}

TEST(ArtworkCache, FetchesOnlyHttpsAndLoopbackHttp)
{
    const std::pair<const char*, bool> cases[] = {
        {"https://is1-ssl.mzstatic.com/a/100x100bb.jpg", true},
        {"http://127.201.3.4:8080/icon.png", true},
        {"http://[::1]/icon.png", true},
        {"http://LocalHost/icon.png", true},
        {"http://example.com/icon.png", false},
        {"http://127.0.0.1@example.com/icon.png", false},
        {"http://localhost.example.com/icon.png", false},
        {"file:///dev/zero", false},
        {"data:image/png;base64,iVBORw0KGgo=", false},
        {"ftp://127.0.0.1/icon.png", false},
    };
    for (const auto& [url, fetchable] : cases)
        EXPECT_EQ(ArtworkCache::isFetchable(QUrl(url)), fetchable) << url;
}

TEST(ArtworkCache, CutsOffAnOversizedIconAndNeverOpensAFile)
{
    HttpServer server;
    const QByteArray png = redSquarePng();
    // Still decodable: only its size makes it unwelcome.
    server.setResponse("/big.png", HttpServer::Response::text(png + QByteArray(ArtworkCache::maxIconBytes, 0)));
    server.setResponse("/icon.png", HttpServer::Response::text(png, "image/png"));
    QTemporaryDir dir;
    QFile file(dir.filePath("icon.png"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(png) == png.size() && file.flush());

    ArtworkCache cache;
    QList<QUrl> loaded;
    QObject::connect(&cache, &ArtworkCache::loaded, [&](const QUrl& url) { loaded << url; });
    for (const QUrl& url : {QUrl::fromLocalFile(file.fileName()), server.url("/big.png"), server.url("/icon.png")})
        EXPECT_EQ(cache.icon(url, 40, 1.0), nullptr);
    EXPECT_TRUE(cache.hasFailed(QUrl::fromLocalFile(file.fileName())));
    ASSERT_TRUE(AsyncTest::waitUntil([&] { return cache.hasFailed(server.url("/big.png")) && !loaded.isEmpty(); }));
    EXPECT_EQ(loaded, QList<QUrl>{server.url("/icon.png")});
}
