#include "ui/LibraryView.h"

#include "WindowTestSupport.h"
#include "support/HttpServer.h"
#include "ui/AppRowDelegate.h"
#include "ui/ArtworkCache.h"
#include "ui/LibraryListModel.h"
#include "ui/QuitQuestion.h"
#include "ui/RowPaint.h"

using namespace ModelTest;
using namespace WindowTest;

namespace {

LibraryView* library(MainWindow& window)
{
    return window.mainView()->findChild<LibraryView*>("libraryView");
}

/// The page the view shows, with its headline when it has one.
QString stateShown(const LibraryView* view)
{
    const QWidget* page = view->findChild<QStackedWidget*>()->currentWidget();
    const auto* headline = page->findChild<QLabel*>("emptyHeadline");
    return page->objectName() + (headline ? ": " + headline->text() : QString());
}

/// The row menu that is open now, closed again once looked at.
bool rowMenuOpens(LibraryView* view, int expectedRow)
{
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    const bool open =
        menu && menu->objectName() == "libraryRowMenu" && view->list()->currentIndex().row() == expectedRow;
    if (menu)
        menu->close();
    AsyncTest::waitUntil([] { return !QApplication::activePopupWidget(); });
    return open;
}

QMenu* clickRowMenu(LibraryView* view, int row)
{
    // An earlier menu lingers until deleted.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    const QRect button = view->delegate()->controlRect(view->rows()->index(row), AppRowDelegate::menuID);
    QTest::mouseClick(view->list()->viewport(), Qt::LeftButton, {}, button.center());
    return view->findChild<QMenu*>("libraryRowMenu");
}

} // namespace

TEST(LibraryView, FindReachesTheSearchShownWhichTheGoneSectionSharesEscapeClearsAndGoneAppsSaveInAQueue)
{
    QList<PurchasedApp> apps = history(5, 2);
    apps[1].name = "Weather Plus";
    apps[3].name = "Weather Gone";
    SignedIn signedIn(apps, {slowDownloads(30)});
    ASSERT_TRUE(signedIn.ready());
    MainWindow& window = signedIn.window;
    QApplication::setActiveWindow(&window);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    LibraryView* view = library(window);
    Navigation* navigation = window.mainView()->navigation();

    QTest::keySequence(&window, QKeySequence::Find);
    auto* search = view->findChild<QLineEdit*>("librarySearch");
    EXPECT_TRUE(search->hasFocus());
    QTest::keyClicks(search, "  wEATHER ");
    EXPECT_EQ(view->rows()->rowCount(), 2);
    navigation->setSection(SidebarSection::gone);
    auto* gone = window.mainView()->findChild<LibraryView*>("goneView");
    ASSERT_EQ(gone->rows()->rowCount(), 1);
    EXPECT_EQ(gone->rows()->app(0).name, "Weather Gone");

    search->setText("нет такого");
    EXPECT_EQ(stateShown(view), "libraryEmpty: Ничего не найдено");
    EXPECT_EQ(stateShown(gone), "goneEmpty: Снятых приложений не нашлось");
    navigation->setSection(SidebarSection::all);
    QTest::keyClick(search, Qt::Key_Escape);
    EXPECT_TRUE(search->text().isEmpty());
    EXPECT_EQ(view->rows()->rowCount(), 5);

    navigation->setSection(SidebarSection::device);
    QTest::keySequence(&window, QKeySequence::Find);
    EXPECT_TRUE(window.mainView()->currentView()->findChild<QLineEdit*>("deviceSearch")->hasFocus());
    navigation->setSection(SidebarSection::log);
    QTest::keySequence(&window, QKeySequence::Find);
    EXPECT_FALSE(qobject_cast<QLineEdit*>(QApplication::focusWidget()))
        << "a section without a search keeps the focus where it was";

    // Saving the gone apps shows the queue in the sidebar, with pause and cancel.
    auto* panel = window.findChild<QWidget*>("queuePanel");
    EXPECT_FALSE(panel->isVisible());
    navigation->setSection(SidebarSection::gone);
    window.mainView()->findChild<QPushButton*>("saveGoneButton")->click();
    ASSERT_EQ(signedIn.model.archiveQueue().items().size(), 2);
    EXPECT_TRUE(panel->isVisible());
    EXPECT_EQ(WindowTest::shown(panel, "queueTitle"), "Очередь: 1 из 2");
    auto* pause = panel->findChild<QPushButton*>("queuePause");
    pause->click();
    EXPECT_TRUE(signedIn.model.archiveQueue().isPaused());
    EXPECT_EQ(QStringList({pause->text(), panel->findChild<QLabel*>("queueStatus")->text()}),
              QStringList({"Продолжить", "На паузе"}));
    panel->findChild<QPushButton*>("queueCancel")->click();
    EXPECT_FALSE(panel->isVisible());
    ASSERT_TRUE(AsyncTest::waitUntil([&] { return signedIn.model.activity(5003) == AppActivity{}; }));
}

TEST(LibraryView, AnEmptyHistorySaysSoAFirstFetchShowsProgressAndNewRowsKeepTheRowYouWereOnWhereItStood)
{
    {
        SignedIn signedIn({});
        ASSERT_TRUE(signedIn.ready());
        LibraryView* view = library(signedIn.window);
        EXPECT_TRUE(
            AsyncTest::waitUntil([&] { return stateShown(view) == "libraryEmptyHistory: История загрузок пуста"; }));
    }
    SignedIn signedIn({}, historyPages(150, 1500));
    ASSERT_TRUE(signedIn.ready());
    LibraryView* view = library(signedIn.window);
    ASSERT_TRUE(AsyncTest::waitUntil([&] { return signedIn.model.syncProgress().has_value(); }));
    EXPECT_EQ(stateShown(view), "libraryLoading");
    EXPECT_TRUE(view->findChild<QWidget*>("libraryProgress")->isVisible());
    ASSERT_TRUE(AsyncTest::waitUntil([&] { return stateShown(view) == "libraryList"; }, std::chrono::seconds(20)));

    QListView* list = view->list();
    const auto current = [&] {
        return list->currentIndex().isValid() ? view->rows()->app(list->currentIndex().row()).id : 0;
    };
    const auto top = [&](qint64 id) { return list->visualRect(view->rows()->index(view->rows()->rowOf(id))).top(); };
    list->setCurrentIndex(view->rows()->index(60));
    const PurchasedApp app = view->rows()->app(60);
    const int shown = top(app.id);
    ASSERT_GT(list->verticalScrollBar()->value(), 0);
    // The same rows again, as after a sync or a radar pass: nothing moves.
    signedIn.model.setSearch("Приложение");
    EXPECT_EQ(std::pair(current(), top(app.id)), std::pair(app.id, shown));
    // Fewer rows, then all of them again: the row stays current and on its line of the screen.
    signedIn.model.setSearch(app.name);
    const int narrowed = top(app.id);
    signedIn.model.setSearch({});
    EXPECT_EQ(std::pair(current(), top(app.id)), std::pair(app.id, narrowed));

    // Without a current row, the first row shown keeps its place.
    list->setCurrentIndex({});
    list->verticalScrollBar()->setValue(list->verticalScrollBar()->maximum() / 2);
    const QModelIndex first = list->indexAt(QPoint(1, 1));
    const qint64 firstApp = view->rows()->app(first.row()).id;
    const int firstTop = list->visualRect(first).top();
    signedIn.model.setSearch(" ");
    EXPECT_EQ(std::pair(current(), top(firstApp)), std::pair(qint64(0), firstTop));
}

TEST(LibraryView, RowTextsShowADownloadInOneUnitAndLeaveOutWhatTheAppLacks)
{
    const qint64 mb = 1024 * 1024;
    EXPECT_EQ(RowPaint::downloadProgress(qint64(12.4 * mb), 87 * mb), "12,4 из 87 МБ · 14 %");
    EXPECT_EQ(RowPaint::downloadProgress(300 * 1024, 500 * 1024), "300 из 500 КБ · 60 %");
    EXPECT_EQ(RowPaint::downloadProgress(87 * mb, 87 * mb), "87 из 87 МБ · 100 %");
    PurchasedApp app;
    app.bundleID = "com.example.bare";
    EXPECT_EQ(AppRowDelegate::subtitle(app), "com.example.bare");
    app.version = "3.2";
    app.purchaseDate = QDateTime(QDate(2020, 5, 6), QTime(12, 0));
    EXPECT_EQ(AppRowDelegate::subtitle(app), "com.example.bare · вер. 3.2 · 06.05.2020");
}

TEST(LibraryView, RowsTakeTheKeyboardFollowTheirDownloadsABusyRowLocksOnlyItsMenuAndQuittingAsksFirst)
{
    SignedIn signedIn(history(3), {slowDownloads(6)});
    ASSERT_TRUE(signedIn.ready());
    LibraryView* view = library(signedIn.window);
    QListView* list = view->list();
    const auto row = [&](int index) { return controls(*view, view->rows()->index(index)); };
    ASSERT_TRUE(AsyncTest::waitUntil([&] { return list->hasFocus(); })) << "the rows have the keyboard at once";
    ASSERT_TRUE(AsyncTest::waitUntil([&] { return list->currentIndex().row() == 0; }));
    const RowDelegate::Control install =
        view->delegate()->controls(list->visualRect(list->currentIndex()), list->currentIndex()).first();
    EXPECT_EQ(std::tuple(install.id, install.enabled, install.prominent, install.toolTip),
              std::tuple(AppRowDelegate::installID, false, false, QString("Подключи iPhone кабелем")));

    // The menu works without a phone; its first item only downloads.
    QMenu* menu = clickRowMenu(view, 0);
    ASSERT_NE(menu, nullptr);
    QStringList items;
    for (QAction* action : menu->actions())
        items << action->text();
    EXPECT_EQ(items, QStringList({"Только скачать IPA", "Выбрать версию…", "", "Скопировать bundle id",
                                  "Открыть страницу в App Store"}));
    menu->actions().first()->trigger();
    menu->close();
    ASSERT_TRUE(
        AsyncTest::waitUntil([&] { return signedIn.model.activity(5000).kind == AppActivity::Kind::downloading; }));

    // Quitting meanwhile asks first: staying keeps the window, quitting anyway closes it.
    for (const QString answer : {"quitStay", "quitAnyway"}) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_FALSE(signedIn.window.close());
        auto* question = signedIn.window.findChild<QMessageBox*>("quitQuestion");
        ASSERT_TRUE(question && question->isVisible());
        EXPECT_EQ(question->informativeText(), "Сейчас идёт 1 загрузка. Если выйти сейчас, всё прервётся и начинать "
                                               "придётся заново.");
        QTest::mouseClick(question->findChild<QAbstractButton*>(answer), Qt::LeftButton);
        EXPECT_EQ(signedIn.window.isVisible(), answer == "quitStay");
    }
    EXPECT_TRUE(QuitQuestion::describe({2, 1}).startsWith("Сейчас идут 2 загрузки и 1 установка."));
    signedIn.window.show();
    EXPECT_TRUE(row(0).contains("menu (off)")) << "a busy row locks its menu";
    EXPECT_TRUE(row(1).contains("menu")) << "other rows stay usable";

    // Without a phone, Enter downloads too.
    list->setCurrentIndex(view->rows()->index(1));
    QTest::keyClick(list, Qt::Key_Return);
    ASSERT_TRUE(
        AsyncTest::waitUntil([&] { return signedIn.model.activity(5001).kind == AppActivity::Kind::downloading; }));
    EXPECT_EQ(signedIn.model.activity(5002).kind, AppActivity::Kind::idle);
    QTest::keyClick(list, Qt::Key_Menu);
    EXPECT_FALSE(QApplication::activePopupWidget()) << "a busy row's menu is off, from the keyboard too";

    const QRect third = list->visualRect(view->rows()->index(2));
    QContextMenuEvent click(QContextMenuEvent::Mouse, third.center(), list->viewport()->mapToGlobal(third.center()));
    QApplication::sendEvent(list->viewport(), &click);
    EXPECT_TRUE(rowMenuOpens(view, 2)) << "a right-click opens the clicked row's menu";
    QTest::keyClick(list, Qt::Key_Menu);
    EXPECT_TRUE(rowMenuOpens(view, 2));
    QTest::keyClick(list, Qt::Key_F10, Qt::ShiftModifier);
    EXPECT_TRUE(rowMenuOpens(view, 2));

    ASSERT_TRUE(AsyncTest::waitUntil(
        [&] { return signedIn.model.activity(5000).isFinal() && signedIn.model.activity(5001).isFinal(); }));
    EXPECT_TRUE(row(0).contains("menu"));

    // "Выбрать версию…" asks the window for the version sheet of that app.
    menu = clickRowMenu(view, 0);
    ASSERT_NE(menu, nullptr);
    menu->actions().at(1)->trigger();
    EXPECT_EQ(signedIn.window.mainView()->navigation()->versionRequest().value().target.adamID, 5000);
    // The sheet's list must arrive before the model goes away with the test.
    ASSERT_TRUE(AsyncTest::waitUntil([&] { return signedIn.model.versionsByApp().contains(5000); }));
}

TEST(ArtworkCache, FetchesEachIconOnceAndNeverAgainOneThatFailedWasTooBigOrIsAFile)
{
    QImage image(60, 60, QImage::Format_ARGB32);
    image.fill(Qt::red);
    QByteArray png;
    QBuffer buffer(&png);
    ASSERT_TRUE(buffer.open(QIODevice::WriteOnly) && image.save(&buffer, "PNG"));
    HttpServer server;
    server.setResponse("/icon.png", HttpServer::Response::text(png, "image/png"));
    server.setResponse("/broken.png", HttpServer::Response::text("not an image", "image/png"));
    // Still decodable: only its size makes it unwelcome.
    server.setResponse("/big.png", HttpServer::Response::text(png + QByteArray(ArtworkCache::maxIconBytes, 0)));
    QTemporaryDir dir;
    QFile file(dir.filePath("icon.png"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(png) == png.size() && file.flush());
    const QUrl local = QUrl::fromLocalFile(file.fileName());

    ArtworkCache cache;
    QList<QUrl> loaded;
    QObject::connect(&cache, &ArtworkCache::loaded, [&](const QUrl& url) { loaded << url; });
    // Rows ask on every paint, also while the first request is still under way.
    const QList<QUrl> asked{server.url("/icon.png"), server.url("/icon.png"), server.url("/broken.png"),
                            server.url("/big.png"), local};
    for (const QUrl& url : asked)
        EXPECT_EQ(cache.icon(url, 40, 1.0), nullptr) << url.toString().toStdString();
    EXPECT_TRUE(cache.hasFailed(local));
    ASSERT_TRUE(AsyncTest::waitUntil(
        [&] { return server.requests().size() == 3 && cache.hasFailed(server.url("/big.png")) && !loaded.isEmpty(); }));
    QTest::qWait(100);

    const QPixmap* icon = cache.icon(server.url("/icon.png"), 40, 1.0);
    EXPECT_EQ(icon ? icon->size() : QSize(), QSize(40, 40));
    EXPECT_EQ(cache.icon(server.url("/broken.png"), 40, 1.0), nullptr);
    QTest::qWait(100);
    EXPECT_EQ(server.requests().size(), 3) << "each icon is asked for once, a broken one too";
    EXPECT_EQ(loaded, QList<QUrl>{server.url("/icon.png")});
}

TEST(ArtworkCache, FetchesOnlyHttpsAndLoopbackHttp)
{
    const QStringList fetchable{"https://is1-ssl.mzstatic.com/a/100x100bb.jpg", "http://127.201.3.4:8080/icon.png",
                                "http://[::1]/icon.png", "http://LocalHost/icon.png"};
    const QStringList refused{"http://example.com/icon.png",           "http://127.0.0.1@example.com/icon.png",
                              "http://localhost.example.com/icon.png", "file:///dev/zero",
                              "data:image/png;base64,iVBORw0KGgo=",    "ftp://127.0.0.1/icon.png"};
    for (const QString& url : fetchable + refused)
        EXPECT_EQ(ArtworkCache::isFetchable(QUrl(url)), fetchable.contains(url)) << url.toStdString();
}
