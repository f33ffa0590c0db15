#pragma once

#include <QString>

class QGroupBox;
class QPushButton;
class QWidget;

namespace tessary {

// The controls every window makes alike. The object name is what the
// bindings and the tests find a control by.

// A push button that does not make itself the default button when it takes
// the focus (the keyboard habits press the focused button on Return), with
// the icon ":/icons/<iconName>" when one is named.
[[nodiscard]] QPushButton *makeButton(QWidget *parent, const QString &name, const QString &caption,
                                      const QString &iconName = {});

// A group box named after its caption for screen readers: options nested in
// a group otherwise take the outer group's name, and the two "Normal" or
// "User" options could not be told apart.
[[nodiscard]] QGroupBox *makeGroupBox(QWidget *parent, const QString &name, const QString &caption);

} // namespace tessary
