#pragma once

#include <QDateTime>
#include <QString>
#include <functional>

// One place each for the program's folder, the clock and ending the program, so
// tests can point them at a temporary folder, a fixed time and a recorder.
namespace program {

QString folder();
void setFolder(const QString &folder);

QDateTime now();
void setClock(std::function<QDateTime()> clock); // empty function: the real clock

// Ends the program at once: nothing is saved, no window closing step runs.
// With a handler installed (tests), the handler runs instead and endNow returns.
void endNow();
void setEndHandler(std::function<void()> handler);

} // namespace program
