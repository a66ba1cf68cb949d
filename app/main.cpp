#include "demo/DemoEnvironment.h"
#include "model/AppModel.h"
#include "platform/Platform.h"
#include "ui/MainWindow.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QSocketNotifier>
#include <QTranslator>

#include <csignal>
#include <memory>

#include <unistd.h>

namespace {

int quitPipe[2] = {-1, -1};

void requestQuit(int)
{
    const char byte = 0;
    if (::write(quitPipe[1], &byte, 1) < 0) {
        // Nothing else is safe to do inside a signal handler.
    }
}

// Ctrl+C in the terminal that ran `make demo` must still end in an orderly quit, so the demo's
// temporary folder is removed.
void quitOnTerminalSignals(QApplication& app)
{
    if (::pipe(quitPipe) != 0)
        return;
    auto* notifier = new QSocketNotifier(quitPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, &QApplication::quit);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        std::signal(signal, requestQuit);
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quorrel"));
    QApplication::setOrganizationName(QStringLiteral("Quorrel"));
    QApplication::setApplicationDisplayName(QStringLiteral("Quorrel"));

    // The interface speaks Russian, Qt's own dialogs included.
    QTranslator qtTranslator;
    if (qtTranslator.load(QLocale(QLocale::Russian), QStringLiteral("qtbase"), QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtTranslator);

    // Switched after the application object, which has already found the display through the
    // real HOME, and before the model, which must see only the demo's folders and tools.
    std::unique_ptr<DemoEnvironment> demo;
    const std::optional<QString> demoCopy = DemoEnvironment::copyFolder();
    const bool demoAsked = QApplication::arguments().contains(QStringLiteral("--demo"));
    if (demoAsked && !demoCopy) {
        // The demo's update replaces the bundle it runs from: that must be a copy of its own.
        const QString failure = DemoEnvironment::relaunchFromCopy(argv);
        qWarning("%s", qPrintable(failure + QStringLiteral("; демо идёт без обновления")));
    }
    if (demoAsked || demoCopy) {
        demo = std::make_unique<DemoEnvironment>();
        if (!demo->isReady()) {
            qCritical("%s", qPrintable(*demo->error()));
            QMessageBox::critical(nullptr, QStringLiteral("Quorrel"), *demo->error());
            return 1;
        }
        QApplication::setApplicationDisplayName(QStringLiteral("Quorrel — демо"));
        quitOnTerminalSignals(app);
    }

    AppModel model(demo ? demo->endpoints() : AppModel::Endpoints{});
    // After the demo has moved the folders, so the demo's log stays in its own.
    model.writeLogTo(Platform::logDirectory());
    MainWindow window(&model);
    window.restoreWindowGeometry();
    window.show();
    const int status = QApplication::exec();
    // Quitting for the swap: the relaunched copy needs the demo's folder and removes it itself.
    if (demo && model.updateState().kind == AppModel::UpdateState::Kind::installing)
        demo->keepFolder();
    return status;
}
