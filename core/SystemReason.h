#pragma once

#include <QString>
#include <cstdint>

// The operator reads Chinese: the common system reasons get a Chinese text, with
// the system's own words kept in brackets for whoever has to dig deeper.
namespace reason {

// "磁盘已满（No space left on device）" for ENOSPC, and so on; an unknown errno
// keeps the system's text alone.
QString fromErrno(int err);

// The Chinese text for a reason, followed by the system's words in brackets.
QString withSystemText(const QString &chinese, const QString &systemText);

const QString &notAWorkbook();
const QString &isDirectory();
const QString &notARegularFile();
// A file larger than any genuine file of its kind: names the bound.
QString tooLarge(int64_t limit);
const QString &deviceGone();

} // namespace reason
