#pragma once

#include <QWidget>

// A station's windows stay together on a shared screen: one opens where the other is, in
// front, taking the keys.
inline void showWhere(QWidget *window, const QWidget *other)
{
    window->move(other->pos());
    window->show();
    window->raise();
    window->activateWindow();
}
