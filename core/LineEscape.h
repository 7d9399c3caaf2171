#pragma once

#include <QByteArray>
#include <QString>
#include <functional>

// Text written into a line of the station's own files (the journal, the outbox,
// the refusal record): UTF-8, every character whole (also those outside the Basic
// Multilingual Plane), a backslash doubled, and each character that mustEscape
// picks written as \xHH, so that a line never breaks and a person can read it.
namespace lineescape {

QByteArray escaped(const QString &text, const std::function<bool(char16_t)> &mustEscape, bool upperHex);

} // namespace lineescape
