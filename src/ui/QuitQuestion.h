#pragma once

#include <QString>

class AppModel;
class QMessageBox;
class QWidget;

/// Asks before a quit would cut off running downloads and installs.
namespace QuitQuestion {

struct Running {
    qint64 downloads = 0;
    qint64 installs = 0;

    bool any() const { return downloads > 0 || installs > 0; }
};

Running running(const AppModel& model);
/// "Сейчас идут 2 загрузки и 1 установка. …"
QString describe(const Running& running);
/// A window-modal question over `parent` with "Выйти" (accepted) and "Не выходить"; not yet shown.
QMessageBox* make(const Running& running, QWidget* parent);

} // namespace QuitQuestion
