#pragma once

class QLineEdit;
class QWidget;

/// A section's search field: the Find key reaches it from anywhere in the window, Escape in it clears it.
namespace SearchField {

void setUp(QLineEdit* field);
/// The search field inside `view`, or nothing when the section has none.
QLineEdit* of(const QWidget* view);

} // namespace SearchField
