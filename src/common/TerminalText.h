#pragma once

#include <QString>

/// Text a tool meant for a terminal, made fit to show in a window.
namespace TerminalText {

/// Drops escape sequences (colours, cursor moves, window titles), including one cut off at the
/// end by a crash; everything else is kept as it was.
QString withoutEscapes(const QString& text);

} // namespace TerminalText
