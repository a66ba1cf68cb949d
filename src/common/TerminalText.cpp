#include "common/TerminalText.h"

#include <QRegularExpression>

QString TerminalText::withoutEscapes(const QString& text)
{
    if (!text.contains(QChar(0x1B)))
        return text;
    // CSI (colours, cursor), OSC up to BEL or ST, else ESC with intermediates and a final byte.
    static const QRegularExpression sequence(
        QStringLiteral(R"(\x1B(?:\[[0-?]*[ -/]*(?:[@-~]|$)|\][^\x07\x1B]*(?:\x07|\x1B\\|$)|[ -/]*(?:[0-~]|$)))"));
    return QString(text).remove(sequence);
}
