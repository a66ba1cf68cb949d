#include "ui/PathOffer.h"

#include <QClipboard>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPushButton>

namespace PathOffer {

void show(const QString& path, QWidget* parent)
{
    auto* box = new QMessageBox(parent);
    box->setObjectName(QStringLiteral("revealFailed"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    box->setIcon(QMessageBox::Information);
    box->setWindowTitle(QStringLiteral("Quorrel"));
    box->setText(QStringLiteral("Не нашлось файлового менеджера, который открыл бы папку"));
    const QString where = QFileInfo(path).isDir() ? QStringLiteral("Папка: ") : QStringLiteral("Файл лежит здесь:\n");
    box->setInformativeText(where + QDir::toNativeSeparators(path));
    box->setTextInteractionFlags(Qt::TextSelectableByMouse);
    QPushButton* copy = box->addButton(QStringLiteral("Скопировать путь"), QMessageBox::AcceptRole);
    copy->setObjectName(QStringLiteral("copyPath"));
    box->addButton(QStringLiteral("Закрыть"), QMessageBox::RejectRole);
    QObject::connect(copy, &QPushButton::clicked, box,
                     [path] { QGuiApplication::clipboard()->setText(QDir::toNativeSeparators(path)); });
    box->open();
}

} // namespace PathOffer
