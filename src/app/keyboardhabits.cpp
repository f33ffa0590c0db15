#include "app/keyboardhabits.h"

#include <QButtonGroup>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QPushButton>
#include <QRadioButton>

namespace tessary {

namespace {

class KeyboardHabits : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::KeyPress) {
            const auto *key = static_cast<QKeyEvent *>(event);
            auto *button = qobject_cast<QPushButton *>(watched);
            if (button && (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)
                && (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
                if (button->isEnabled())
                    button->click();
                return true;
            }
        } else if (event->type() == QEvent::FocusIn) {
            const auto reason = static_cast<QFocusEvent *>(event)->reason();
            auto *option = qobject_cast<QRadioButton *>(watched);
            QAbstractButton *checked = option && option->group() ? option->group()->checkedButton() : nullptr;
            if ((reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason) && checked && checked != option
                && checked->isEnabled() && checked->isVisible()) {
                // Qt then keeps the checked option as the group's one stop of the tab chain.
                checked->setFocus(reason);
                return true;
            }
        }
        return false;
    }
};

} // namespace

void applyKeyboardHabits(QWidget *window)
{
    auto *habits = new KeyboardHabits(window);
    for (QPushButton *button : window->findChildren<QPushButton *>())
        button->installEventFilter(habits);
    for (QRadioButton *option : window->findChildren<QRadioButton *>())
        option->installEventFilter(habits);
}

} // namespace tessary
