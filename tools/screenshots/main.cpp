// Renders the window in each state worth showing, offscreen, against the demo's stand-in tools:
//   quorrel-screenshots OUTPUT_DIR
// Everything on screen comes from the real model driving the demo; nothing is faked for a picture.

#include "demo/DemoCatalogue.h"
#include "demo/DemoEnvironment.h"
#include "demo/DemoUpdateServer.h"
#include "model/AppModel.h"
#include "platform/Platform.h"
#include "ui/DeviceAppRowDelegate.h"
#include "ui/DeviceAppsListModel.h"
#include "ui/DeviceAppsView.h"
#include "ui/FilesView.h"
#include "ui/LibraryListModel.h"
#include "ui/LibraryView.h"
#include "ui/MainView.h"
#include "ui/MainWindow.h"
#include "ui/Navigation.h"
#include "ui/RowPaint.h"
#include "ui/SignInView.h"
#include "update/UpdateSignature.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QJsonObject>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QSettings>
#include <QTranslator>

#include <cstdio>
#include <functional>

namespace {

QString outputDir;
int failures = 0;

bool waitUntil(const std::function<bool()>& condition, int timeoutMs = 20000)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

void settle(int ms = 250)
{
    QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

bool require(bool ok, const char* what)
{
    if (!ok) {
        std::fprintf(stderr, "screenshots: gave up waiting for %s\n", what);
        ++failures;
    }
    return ok;
}

/// The window with its open sheets and alerts drawn over it, dimmed, as a desktop shows a modal sheet.
QImage compose(QWidget* window)
{
    QImage image = window->grab().toImage();
    QPainter painter(&image);
    const QList<QDialog*> dialogs = window->findChildren<QDialog*>();
    for (QDialog* dialog : dialogs) {
        if (!dialog->isVisible())
            continue;
        painter.fillRect(image.rect(), QColor(0, 0, 0, 60));
        const QImage sheet = dialog->grab().toImage();
        const qreal ratio = image.devicePixelRatio();
        const QPoint at((image.width() / ratio - sheet.width() / ratio) / 2, 60);
        // A soft shadow under the sheet.
        for (int i = 1; i <= 6; ++i)
            painter.fillRect(QRect(at + QPoint(-i, i), QSize(sheet.width() / ratio + 2 * i, sheet.height() / ratio)),
                             QColor(0, 0, 0, 10));
        painter.drawImage(at, sheet);
        QRect frame(at, QSize(sheet.width() / ratio - 1, sheet.height() / ratio - 1));
        if (qobject_cast<QMessageBox*>(dialog)) {
            // An alert is a small window with its title, which offscreen rendering has no frame for.
            const QRect bar(frame.left(), frame.top() - 26, frame.width() + 1, 26);
            painter.fillRect(bar, dialog->palette().color(QPalette::Window).darker(112));
            QFont font = dialog->font();
            font.setBold(true);
            painter.setFont(font);
            painter.setPen(dialog->palette().color(QPalette::WindowText));
            painter.drawText(bar, Qt::AlignCenter, dialog->windowTitle());
            frame.setTop(bar.top());
        }
        painter.setPen(QColor(0, 0, 0, 60));
        painter.drawRect(frame);
    }
    return image;
}

void shoot(QWidget* window, const QString& name)
{
    settle();
    const QString path = QDir(outputDir).filePath(name + QStringLiteral(".png"));
    if (!compose(window).save(path))
        require(false, qPrintable(QStringLiteral("saving ") + path));
    else
        std::printf("%s\n", qPrintable(path));
}

LibraryView* library(MainWindow& window, bool gone = false)
{
    return window.mainView()->findChild<LibraryView*>(gone ? QStringLiteral("goneView")
                                                           : QStringLiteral("libraryView"));
}

void closeDialogs(MainWindow& window)
{
    for (QDialog* dialog : window.findChildren<QDialog*>()) {
        if (dialog->isVisible())
            dialog->reject();
    }
    settle(100);
}

void signInShots(MainWindow& window, AppModel& model)
{
    SignInView* form = window.signInView();
    if (!require(form != nullptr, "the sign-in form"))
        return;
    shoot(&window, QStringLiteral("sign-in"));
    form->findChild<QLineEdit*>(QStringLiteral("signInEmail"))->setText(QStringLiteral("anna.demo@example.com"));
    form->findChild<QLineEdit*>(QStringLiteral("signInPassword"))->setText(QStringLiteral("секрет-пароль"));
    form->submit();
    auto* code = form->findChild<QLineEdit*>(QStringLiteral("signInCode"));
    require(waitUntil([&] { return code->isVisible() && form->canSubmit() == false; }), "the code step");
    code->setText(QStringLiteral("123456"));
    shoot(&window, QStringLiteral("sign-in-code"));
    form->submit();
    require(waitUntil([&] { return model.stage() == AppModel::Stage::signedIn && window.mainView(); }), "signing in");
}

void libraryShots(MainWindow& window, AppModel& model)
{
    require(waitUntil([&] { return !model.apps().isEmpty() && !model.syncProgress(); }, 60000), "the history");
    require(waitUntil([&] { return !model.devices().isEmpty(); }), "the phones");
    LibraryView* view = library(window);
    QListView* list = view->list();
    // The failing download and its neighbours: one failed, one done, one installing, one downloading.
    const qint64 broken = DemoCatalogue::brokenDownload().id;
    const int brokenRow = view->rows()->rowOf(broken);
    if (!require(brokenRow >= 0, "the broken app's row"))
        return;
    const int first = qMax(0, brokenRow - 2);
    QList<PurchasedApp> around;
    for (int row = first; row < qMin(view->rows()->rowCount(), first + 6); ++row) {
        if (view->rows()->app(row).id != broken)
            around << view->rows()->app(row);
    }
    const PurchasedApp done = around.at(0), installing = around.at(1), downloading = around.at(2);
    list->scrollTo(view->rows()->index(first), QAbstractItemView::PositionAtTop);

    model.download(done, std::nullopt);
    model.download(*std::find_if(model.apps().cbegin(), model.apps().cend(),
                                 [&](const PurchasedApp& app) { return app.id == broken; }),
                   std::nullopt);
    require(waitUntil([&] { return model.activity(done.id).isFinal() && model.activity(broken).isFinal(); }),
            "a finished and a failed download");
    model.installOnDevice(installing, std::nullopt);
    require(waitUntil([&] {
                return model.activity(installing.id).kind == AppActivity::Kind::installing
                       && model.activity(installing.id).progress > 0.2;
            }),
            "an installation under way");
    model.download(downloading, std::nullopt);
    require(waitUntil([&] { return model.activity(downloading.id).bytes > 40000; }), "a download under way");
    shoot(&window, QStringLiteral("library"));

    waitUntil([&] {
        return !RowPaint::isBusy(model.activity(installing.id)) && !RowPaint::isBusy(model.activity(downloading.id));
    });
    window.mainView()->navigation()->setSection(SidebarSection::gone);
    shoot(&window, QStringLiteral("library-gone"));

    window.mainView()->navigation()->setSection(SidebarSection::all);
    // The keyboard's row: the list has the focus and the third row is the current one.
    QApplication::setActiveWindow(&window);
    list->setFocus();
    list->setCurrentIndex(view->rows()->index(first + 2));
    shoot(&window, QStringLiteral("library-keyboard"));

    model.setSearch(QStringLiteral("Несуществующее"));
    shoot(&window, QStringLiteral("library-empty-search"));
    model.setSearch({});
}

void sheetShots(MainWindow& window, AppModel& model)
{
    window.appIDAction()->trigger();
    auto* sheet = window.findChild<QDialog*>(QStringLiteral("appIdSheet"));
    if (require(sheet != nullptr, "the App ID sheet")) {
        sheet->findChild<QLineEdit*>(QStringLiteral("appIdText"))->setText(QStringLiteral("apps.apple.com/app/клип"));
        sheet->findChild<QPushButton*>(QStringLiteral("appIdDownload"))->click();
        require(waitUntil([&] { return model.appIDError().has_value(); }), "the App ID error");
        shoot(&window, QStringLiteral("app-id-sheet"));
    }
    closeDialogs(window);

    // At work: an app of the history with no file yet, so the sheet shows its step.
    window.appIDAction()->trigger();
    sheet = window.findChild<QDialog*>(QStringLiteral("appIdSheet"));
    const QList<PurchasedApp> apps = model.apps();
    const auto fresh = std::find_if(apps.cbegin(), apps.cend(), [&](const PurchasedApp& candidate) {
        return !candidate.isGoneFromStore() && model.activity(candidate.id).kind == AppActivity::Kind::idle
               && !model.downloadedBundleIDs().contains(candidate.bundleID);
    });
    if (require(sheet != nullptr && fresh != apps.cend(), "the App ID sheet at work")) {
        sheet->findChild<QLineEdit*>(QStringLiteral("appIdText"))->setText(QString::number(fresh->id));
        sheet->findChild<QPushButton*>(QStringLiteral("appIdDownload"))->click();
        require(waitUntil([&] { return model.appIDBusy(); }), "the App ID run");
        shoot(&window, QStringLiteral("app-id-sheet-working"));
        waitUntil([&] { return !model.appIDBusy(); });
    }
    closeDialogs(window);

    // The quit question, over a download under way.
    const auto busy = std::find_if(apps.cbegin(), apps.cend(), [&](const PurchasedApp& candidate) {
        return !candidate.isGoneFromStore() && model.activity(candidate.id).kind == AppActivity::Kind::idle
               && !model.downloadedBundleIDs().contains(candidate.bundleID);
    });
    if (require(busy != apps.cend(), "an app to download")) {
        model.download(*busy, std::nullopt);
        require(waitUntil([&] { return model.activity(busy->id).kind == AppActivity::Kind::downloading; }),
                "a download to quit over");
        window.close();
        require(waitUntil([&] { return window.findChild<QMessageBox*>(QStringLiteral("quitQuestion")) != nullptr; }),
                "the quit question");
        shoot(&window, QStringLiteral("quit-question"));
        if (auto* stay = window.findChild<QAbstractButton*>(QStringLiteral("quitStay")))
            stay->click();
        waitUntil([&] { return model.activity(busy->id).isFinal(); });
        settle(100);
    }

    const PurchasedApp app = library(window)->rows()->app(1);
    window.mainView()->navigation()->setVersionRequest(AppModel::VersionRequest{AppModel::Target::from(app)});
    require(waitUntil([&] { return model.versionsByApp().contains(app.id); }), "the version list");
    shoot(&window, QStringLiteral("version-sheet"));
    closeDialogs(window);

    model.setAlert(
        QStringLiteral("Установка не удалась: на iPhone не хватает места. Освободи 1,2 ГБ и попробуй ещё раз."));
    require(waitUntil([&] { return window.findChild<QMessageBox*>(QStringLiteral("alert")) != nullptr; }), "the alert");
    shoot(&window, QStringLiteral("alert"));
    model.setAlert(std::nullopt);
    settle(100);

    if (QAction* about = window.findChild<QAction*>(QStringLiteral("aboutAction"))) {
        about->trigger();
        require(waitUntil([&] { return window.findChild<QMessageBox*>(QStringLiteral("aboutBox")) != nullptr; }),
                "the About box");
        shoot(&window, QStringLiteral("about"));
        closeDialogs(window);
    }
}

/// Takes a tool out of the demo's folder (the model looks for tools afresh each time), or puts it back.
void setToolPresent(const DemoEnvironment& demo, const QString& tool, bool present)
{
    const QDir tools(demo.toolsDirectory());
    const QString hidden = tool + QStringLiteral(".away");
    require(present ? QFile::rename(tools.filePath(hidden), tools.filePath(tool))
                    : QFile::rename(tools.filePath(tool), tools.filePath(hidden)),
            "moving a stand-in tool");
}

void deviceShots(MainWindow& window, AppModel& model, const DemoEnvironment& demo)
{
    require(waitUntil([&] { return model.devices().size() == 2; }), "both phones");
    require(waitUntil([&] { return !model.installedApps().isEmpty() && !model.loadingInstalledApps(); }),
            "the phone's apps");
    window.mainView()->navigation()->setSection(SidebarSection::device);
    auto* view = window.mainView()->findChild<DeviceAppsView*>(QStringLiteral("deviceAppsView"));
    if (!require(view != nullptr, "the phone apps view"))
        return;
    // One finished download among the rows, as after a first use.
    for (const InstalledApp& app : model.installedApps()) {
        if (app.adamID && *app.adamID != DemoCatalogue::brokenDownload().id) {
            model.download(DeviceAppsListModel::target(app), std::nullopt);
            require(waitUntil([&] { return model.activity(*app.adamID).isFinal(); }), "a download from the phone");
            break;
        }
    }
    shoot(&window, QStringLiteral("device-apps"));

    view->findChild<QPushButton*>(QStringLiteral("unknownOnlyToggle"))->click();
    shoot(&window, QStringLiteral("device-apps-unknown"));
    view->findChild<QPushButton*>(QStringLiteral("unknownOnlyToggle"))->click();

    // The Wi-Fi phone is known only to idevice_id, the cable one to cfgutil as well.
    // A poll still under way would bring back what it saw before the tools went.
    model.stopDeviceWatch();
    require(waitUntil([&] { return !model.hasDeviceWatchLoop(); }), "the device watch to stop");
    setToolPresent(demo, QStringLiteral("idevice_id"), false);
    model.refreshDevices();
    require(waitUntil([&] { return model.devices().size() == 1; }), "one phone left");
    shoot(&window, QStringLiteral("device-bar-one"));

    setToolPresent(demo, QStringLiteral("cfgutil"), false);
    model.refreshDevices();
    require(waitUntil([&] { return model.devices().isEmpty() && model.deviceError(); }), "no phone and why");
    shoot(&window, QStringLiteral("device-bar-none"));

    setToolPresent(demo, QStringLiteral("cfgutil"), true);
    setToolPresent(demo, QStringLiteral("idevice_id"), true);
    model.startDeviceWatch();
    require(waitUntil([&] { return model.devices().size() == 2; }), "the phones back");
}

void filesAndLogShots(MainWindow& window, AppModel& model)
{
    window.mainView()->navigation()->setSection(SidebarSection::files);
    shoot(&window, QStringLiteral("files"));
    for (const LocalIPA& file : model.localFiles())
        model.deleteFile(file.path);
    auto* view = window.mainView()->findChild<FilesView*>(QStringLiteral("filesView"));
    if (require(view != nullptr, "the files view"))
        view->reload();
    shoot(&window, QStringLiteral("files-empty"));

    // The library's failed download left its error in the log.
    window.mainView()->navigation()->setSection(SidebarSection::log);
    shoot(&window, QStringLiteral("log"));
}

// The radar's banner after the first sync, over the library.
void radarShots(MainWindow& window, AppModel& model)
{
    require(waitUntil([&] { return !model.apps().isEmpty() && !model.syncProgress(); }, 60000), "the history");
    if (require(!model.newlyGone().isEmpty(), "apps newly gone from the store"))
        shoot(&window, QStringLiteral("radar-banner"));
    model.dismissNewlyGone();
}

// The phone's unsaved gone apps, the queue saving the gone ones, and the files with what they say.
void archiveShots(MainWindow& window, AppModel& model)
{
    window.mainView()->navigation()->setSection(SidebarSection::device);
    if (auto* toggle = window.mainView()->findChild<QPushButton*>(QStringLiteral("unsavedOnlyToggle"))) {
        require(waitUntil([&] {
                    return std::any_of(model.installedApps().cbegin(), model.installedApps().cend(),
                                       [&](const InstalledApp& app) { return model.isAtRisk(app); });
                }),
                "a phone app at risk");
        toggle->click();
        shoot(&window, QStringLiteral("device-apps-unsaved"));
        toggle->click();
    }

    window.mainView()->navigation()->setSection(SidebarSection::gone);
    require(model.saveGoneApps() > 0, "gone apps to queue");
    require(waitUntil([&] { return model.archiveQueue().waitingUntil().has_value(); }, 60000),
            "Apple asking the queue to wait");
    shoot(&window, QStringLiteral("queue-rate-limited"));
    require(waitUntil([&] { return model.archiveQueue().savedCount() >= 3; }, 90000), "the queue going on");
    model.pauseQueue();
    shoot(&window, QStringLiteral("queue-paused"));
    model.cancelQueue();
    require(waitUntil([&] { return model.archiveQueue().isEmpty(); }), "the queue cancelled");

    window.mainView()->navigation()->setSection(SidebarSection::files);
    require(waitUntil([&] {
                const QList<LocalIPA> files = model.localFiles();
                return !files.isEmpty() && std::all_of(files.cbegin(), files.cend(), [&](const LocalIPA& file) {
                    return model.ipaInfo(file.path).has_value();
                });
            }),
            "what the files say");
    shoot(&window, QStringLiteral("files-metadata"));
}

/// A stand-in for the running bundle inside the demo's folder, reading as the real build: the
/// update shots show its version, and nothing the updater does can reach the real one.
QString standInBundle(const DemoEnvironment& demo)
{
    const QString bundle = QDir(demo.rootPath()).filePath(QStringLiteral("screens/Quorrel.app"));
    QDir().mkpath(bundle + QStringLiteral("/Contents/MacOS"));
    QFile::copy(QStringLiteral(QUORREL_DEMO_DATA_DIR "/../../Info.plist"),
                bundle + QStringLiteral("/Contents/Info.plist"));
    return bundle;
}

void updateShots(MainWindow& window, AppModel& model, const DemoEnvironment& demo, DemoUpdateServer& server,
                 const QByteArray& secretKey)
{
    window.mainView()->navigation()->setSection(SidebarSection::all);
    // Any signed zip passes the download, its checksum and signature; this one holds no Quorrel.app,
    // so the installation fails right after, as a broken release would.
    const QString archive = QDir(demo.rootPath()).filePath(QStringLiteral("data/sample.ipa"));
    QFile file(archive);
    file.open(QIODevice::ReadOnly);
    const QByteArray bytes = file.readAll();
    const qint64 build = model.updater().currentBuild();
    QJsonObject offer{
        {QStringLiteral("version"), QString(model.updater().currentVersion() + QStringLiteral(".1"))},
        {QStringLiteral("build"), build + 1},
        {QStringLiteral("notes"),
         QStringLiteral("Установка на iOS 18 через cfgutil снова показывает проценты.\nСписок версий грузится "
                        "вдвое быстрее, а файлы IPA можно перетащить прямо в окно.")},
        {QStringLiteral("date"), QStringLiteral("2026-11-28T12:00:00Z")},
        {QStringLiteral("sha256"),
         QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex())},
        {QStringLiteral("size"), 38'400'000},
        {QStringLiteral("signature"), UpdateSignature::sign(bytes, secretKey)},
    };
    server.setOffer(offer, archive);
    model.checkForUpdates(true);
    require(waitUntil([&] { return model.updateState().kind == AppModel::UpdateState::Kind::available; }),
            "the update offer");
    shoot(&window, QStringLiteral("update-banner"));
    window.mainView()->navigation()->setShowUpdateSheet(true);
    shoot(&window, QStringLiteral("update-sheet"));

    server.setDelay(std::chrono::seconds(3));
    model.installUpdate();
    require(waitUntil([&] { return model.updateState().kind == AppModel::UpdateState::Kind::downloading; }),
            "the update download");
    shoot(&window, QStringLiteral("update-downloading"));
    require(waitUntil([&] { return model.updateState().kind == AppModel::UpdateState::Kind::failed; }),
            "the failed update");
    shoot(&window, QStringLiteral("update-failed"));
    closeDialogs(window);
    server.setDelay({});

    offer.remove(QStringLiteral("notes"));
    server.setOffer(offer, archive);
    model.checkForUpdates(true);
    require(waitUntil([&] { return model.updateState().kind == AppModel::UpdateState::Kind::available; }),
            "the offer without notes");
    window.mainView()->navigation()->setShowUpdateSheet(true);
    shoot(&window, QStringLiteral("update-sheet-no-notes"));
    closeDialogs(window);

    offer.insert(QStringLiteral("build"), build);
    server.setOffer(offer, archive);
    model.checkForUpdates(true);
    require(waitUntil([&] { return model.updateState().kind == AppModel::UpdateState::Kind::upToDate; }),
            "nothing newer");
    shoot(&window, QStringLiteral("update-up-to-date"));
    closeDialogs(window);
}

} // namespace

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quorrel"));
    QApplication::setOrganizationName(QStringLiteral("Quorrel"));
    if (argc < 2) {
        std::fprintf(stderr, "usage: quorrel-screenshots OUTPUT_DIR\n");
        return 2;
    }
    outputDir = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(outputDir);
    QTranslator qtTranslator;
    if (qtTranslator.load(QLocale(QLocale::Russian), QStringLiteral("qtbase"), QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtTranslator);
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));

    DemoEnvironment demo(QStringLiteral(QUORREL_DEMO_DATA_DIR));
    if (!demo.isReady()) {
        std::fprintf(stderr, "screenshots: %s\n", qPrintable(*demo.error()));
        return 1;
    }
    // The update shots come last, from a server of their own; no automatic check before them.
    Platform::preferences()->setValue(QStringLiteral("lastUpdateCheck"),
                                      static_cast<double>(QDateTime::currentSecsSinceEpoch()));
    DemoUpdateServer updateServer;
    require(updateServer.listen(), "the update server");
    AppModel::Endpoints endpoints = demo.endpoints();
    endpoints.updateManifest = updateServer.manifestUrl();
    endpoints.updateBundle = standInBundle(demo);
    const UpdateSignature::KeyPair updateKey = UpdateSignature::generate();
    endpoints.updatePublicKey = updateKey.publicKey;
    AppModel model(endpoints);
    // Into the demo's folders, as the application does, so the log shows its file's buttons at work.
    model.writeLogTo(Platform::logDirectory());
    MainWindow window(&model);
    window.resize(1040, 700);
    window.setAttribute(Qt::WA_DontShowOnScreen);
    shoot(&window, QStringLiteral("checking"));
    window.show();
    require(waitUntil([&] { return model.stage() == AppModel::Stage::signedOut && window.signInView(); }),
            "the sign-in form");
    signInShots(window, model);
    radarShots(window, model);
    libraryShots(window, model);
    sheetShots(window, model);
    deviceShots(window, model, demo);
    archiveShots(window, model);
    filesAndLogShots(window, model);
    updateShots(window, model, demo, updateServer, updateKey.secretKey);
    return failures == 0 ? 0 : 1;
}
