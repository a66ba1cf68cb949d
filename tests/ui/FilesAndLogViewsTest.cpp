#include "WindowTestSupport.h"
#include "process/Tools.h"
#include "ui/FileRowDelegate.h"
#include "ui/FilesView.h"
#include "ui/LogView.h"

using namespace ModelTest;

namespace {

QString makeIpa(const QString& name)
{
    const QString path = QDir(Tools::downloadsDirectory()).filePath(name);
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(QByteArray(2048, 'x'));
    return path;
}

} // namespace

TEST(FilesView, WithoutAPhoneInstallingIsOffTheMenuDeletesAndAPickedFileIsInstalledWithoutRelisting)
{
    TempHome home;
    StandinTools tools(home.resourceDirectory());
    tools.setScenario(scenario(phoneRules(), {{"cable", "no"}}));
    const QString path = makeIpa("com.example.only_1.0.ipa");
    AppModel model;
    FilesView view(&model);
    view.resize(800, 400);
    view.show();
    auto* list = view.list();
    ASSERT_TRUE(list->isVisible());
    ASSERT_EQ(list->model()->rowCount(), 1);
    const QModelIndex row = list->model()->index(0, 0);
    EXPECT_EQ(row.data().toString(), "com.example.only_1.0");
    auto* button = view.findChild<QPushButton*>("installFromDiskButton");
    EXPECT_FALSE(button->isEnabled());
    EXPECT_EQ(WindowTest::controls(view, row), QStringList({"install (off)", "menu"}));

    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      view.delegate()->controlRect(row, FileRowDelegate::menuControl).center());
    auto* menu = view.findChild<QMenu*>("fileMenu");
    ASSERT_NE(menu, nullptr);
    {
        WindowTest::NoFileManager none;
        menu->findChild<QAction*>("revealAction")->trigger();
    }
    auto* box = view.findChild<QMessageBox*>("revealFailed");
    ASSERT_NE(box, nullptr) << "a click that opens nothing says where the file is";
    EXPECT_EQ(box->informativeText(), "Файл лежит здесь:\n" + path);
    box->findChild<QPushButton*>("copyPath")->click();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), path);
    menu->findChild<QAction*>("deleteAction")->trigger();
    EXPECT_FALSE(QFile::exists(path));
    EXPECT_TRUE(QFile::exists(home.filePath(".local/share/Trash/files/com.example.only_1.0.ipa")))
        << "in the Trash, not in a folder of the working directory";
    EXPECT_EQ(WindowTest::shown(&view, "emptyDetail"),
              "Файлы лежат в ~" + Tools::downloadsDirectory().mid(QDir::homePath().size()));
    auto* folder = view.findChild<QLabel*>("emptyDetail");
    QTest::qWait(0);
    EXPECT_GE(folder->height(), folder->heightForWidth(folder->width())) << "the whole path is shown";

    // With a phone: a cancelled chooser does nothing, a picked file is installed, the list stays as it was.
    tools.setState("cable", "yes");
    AsyncTest::await(model.refreshDevices());
    ASSERT_TRUE(AsyncTest::waitUntil([&] { return !model.loadingInstalledApps(); }));
    makeIpa("com.example.kept_1.0.ipa");
    view.findChild<QPushButton*>("refreshFilesButton")->click();
    ASSERT_EQ(list->model()->rowCount(), 1);
    std::optional<QString> answer;
    int asked = 0;
    view.setFileChooser([&](QWidget*) {
        ++asked;
        EXPECT_TRUE(view.isImporting());
        return answer;
    });
    ASSERT_TRUE(button->isEnabled());
    const qsizetype logged = model.log().size();
    button->click();
    EXPECT_EQ(asked, 1);
    EXPECT_FALSE(view.isImporting());
    QTest::qWait(50);
    EXPECT_EQ(model.log().size(), logged);
    EXPECT_EQ(model.alert(), std::nullopt);

    const QString elsewhere = home.filePath("picked.ipa");
    QFile(elsewhere).open(QIODevice::WriteOnly);
    answer = elsewhere;
    makeIpa("com.example.new_2.0.ipa");
    button->click();
    ASSERT_TRUE(AsyncTest::waitUntil([&] { return model.log().size() > logged; }));
    EXPECT_EQ(model.log()[logged].text, "Ставлю picked.ipa на Кабельный…");
    EXPECT_EQ(list->model()->rowCount(), 1) << "installing leaves the snapshot alone";
    view.findChild<QPushButton*>("refreshFilesButton")->click();
    EXPECT_EQ(list->model()->rowCount(), 2);
    ASSERT_TRUE(AsyncTest::waitUntil(
        [&] { return QString("\n" + logTexts(model).mid(logged).join(QChar(10))).contains("\npicked.ipa: "); }));
}

TEST(LogView, FollowsNewEntriesButNotOnOpenAndPaintsErrorsRed)
{
    TempHome home;
    AppModel model;
    for (int i = 0; i < 60; ++i)
        model.note(QString("Строка %1").arg(i));
    LogView view(&model);
    view.resize(500, 200);
    view.show();
    QScrollBar* scroll = view.list()->verticalScrollBar();
    ASSERT_TRUE(AsyncTest::waitUntil([&] { return scroll->maximum() > 0; }));
    EXPECT_EQ(scroll->value(), 0) << "opening does not scroll";

    model.fail("Сбой загрузки");
    EXPECT_EQ(scroll->value(), scroll->maximum());
    const QRect rect = view.list()->visualRect(view.list()->model()->index(view.list()->model()->rowCount() - 1, 0));
    ASSERT_TRUE(view.list()->viewport()->rect().contains(rect));

    const QImage image = view.list()->viewport()->grab(rect).toImage().convertToFormat(QImage::Format_RGB32);
    const auto* pixels = reinterpret_cast<const QRgb*>(image.constBits());
    const auto red = std::count_if(pixels, pixels + image.width() * image.height(), [](QRgb pixel) {
        return qRed(pixel) > 150 && qGreen(pixel) < 110 && qBlue(pixel) < 110;
    });
    EXPECT_GT(red, 20) << "the error's text is drawn red";
}
