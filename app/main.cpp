#include "model/AppModel.h"
#include "ui/MainWindow.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

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

    AppModel model;
    MainWindow window(&model);
    window.show();
    return QApplication::exec();
}
