#include "demo/DemoEnvironment.h"
#include "model/AppModel.h"
#include "ui/MainWindow.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QTranslator>

#include <memory>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quorrel"));
    QApplication::setOrganizationName(QStringLiteral("Quorrel"));
    QApplication::setApplicationDisplayName(QStringLiteral("Quorrel"));

    // The interface speaks Russian, Qt's own dialogs included; dates and sizes keep the user's locale.
    QTranslator qtTranslator;
    if (qtTranslator.load(QLocale(QLocale::Russian), QStringLiteral("qtbase"), QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtTranslator);

    // Switched after the application object, which has already found the display through the
    // real HOME, and before the model, which must see only the demo's folders and tools.
    std::unique_ptr<DemoEnvironment> demo;
    if (QApplication::arguments().contains(QStringLiteral("--demo"))) {
        demo = std::make_unique<DemoEnvironment>();
        if (!demo->isReady()) {
            qCritical("%s", qPrintable(*demo->error()));
            QMessageBox::critical(nullptr, QStringLiteral("Quorrel"), *demo->error());
            return 1;
        }
        QApplication::setApplicationDisplayName(QStringLiteral("Quorrel — демо"));
    }

    AppModel model(demo ? demo->endpoints() : AppModel::Endpoints{});
    MainWindow window(&model);
    window.show();
    return QApplication::exec();
}
