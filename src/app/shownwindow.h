#pragma once

#include <QWidget>

namespace tessary {

// The window of this kind that the owner shows now, or nullptr. Such windows
// open once: a second call raises the one that is open. A closed one is only
// waiting to be deleted.
template <class Window>
Window *shownWindow(const QWidget *owner)
{
    Window *shown = nullptr;
    if (owner)
        for (Window *open : owner->findChildren<Window *>(Qt::FindDirectChildrenOnly))
            if (!open->isHidden())
                shown = open;
    return shown;
}

} // namespace tessary
