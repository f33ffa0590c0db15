#pragma once

class QWidget;

namespace tessary {

// What every window does for a keyboard user, on the buttons it holds when
// called: Return and Enter press the focused push button (Qt leaves that to
// Space outside the dialogs' default button), and Tab or Backtab into a
// group of option buttons lands on its checked option, so that Space there
// does not silently change the choice.
void applyKeyboardHabits(QWidget *window);

} // namespace tessary
