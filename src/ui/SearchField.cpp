#include "ui/SearchField.h"

#include <QAction>
#include <QLineEdit>

namespace {

const char marker[] = "quorrelSearchField";

} // namespace

namespace SearchField {

void setUp(QLineEdit* field)
{
    field->setProperty(marker, true);
    auto* clear = new QAction(field);
    clear->setShortcut(Qt::Key_Escape);
    clear->setShortcutContext(Qt::WidgetShortcut);
    QObject::connect(clear, &QAction::triggered, field, &QLineEdit::clear);
    field->addAction(clear);
}

QLineEdit* of(const QWidget* view)
{
    if (!view)
        return nullptr;
    for (QLineEdit* field : view->findChildren<QLineEdit*>()) {
        if (field->property(marker).toBool())
            return field;
    }
    return nullptr;
}

} // namespace SearchField
