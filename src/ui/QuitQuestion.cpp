#include "ui/QuitQuestion.h"

#include "common/RussianText.h"
#include "model/AppModel.h"

#include <QMessageBox>
#include <QPushButton>

namespace QuitQuestion {

Running running(const AppModel& model)
{
    Running result;
    for (const AppActivity& activity : model.activities()) {
        if (activity.kind == AppActivity::Kind::downloading)
            ++result.downloads;
        else if (activity.kind == AppActivity::Kind::installing)
            ++result.installs;
    }
    return result;
}

QString describe(const Running& running)
{
    QStringList parts;
    if (running.downloads > 0)
        parts << RussianText::count(running.downloads, QStringLiteral("загрузка"), QStringLiteral("загрузки"),
                                    QStringLiteral("загрузок"));
    if (running.installs > 0)
        parts << RussianText::count(running.installs, QStringLiteral("установка"), QStringLiteral("установки"),
                                    QStringLiteral("установок"));
    // "идёт 1 загрузка", "идут 2 загрузки"; two kinds at once take the plural.
    const QString verb = parts.size() > 1
                             ? QStringLiteral("идут")
                             : RussianText::plural(running.downloads + running.installs, QStringLiteral("идёт"),
                                                   QStringLiteral("идут"), QStringLiteral("идут"));
    return QStringLiteral("Сейчас ") + verb + QLatin1Char(' ') + parts.join(QStringLiteral(" и "))
           + QStringLiteral(". Если выйти сейчас, всё прервётся и начинать придётся заново.");
}

QMessageBox* make(const Running& running, QWidget* parent)
{
    auto* box = new QMessageBox(parent);
    box->setObjectName(QStringLiteral("quitQuestion"));
    box->setWindowTitle(QStringLiteral("Quorrel"));
    box->setIcon(QMessageBox::Question);
    box->setText(QStringLiteral("Выйти, не дождавшись?"));
    box->setInformativeText(describe(running));
    QPushButton* quit = box->addButton(QStringLiteral("Выйти"), QMessageBox::AcceptRole);
    quit->setObjectName(QStringLiteral("quitAnyway"));
    QPushButton* stay = box->addButton(QStringLiteral("Не выходить"), QMessageBox::RejectRole);
    stay->setObjectName(QStringLiteral("quitStay"));
    box->setDefaultButton(stay);
    box->setEscapeButton(stay);
    box->setWindowModality(Qt::WindowModal);
    return box;
}

} // namespace QuitQuestion
