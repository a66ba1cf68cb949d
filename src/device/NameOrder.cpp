#include "device/NameOrder.h"

#include <QLocale>

QCollator NameOrder::collator()
{
    QCollator collator{QLocale()};
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    collator.setNumericMode(false);
    return collator;
}
