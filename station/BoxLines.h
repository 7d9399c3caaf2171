#pragma once

#include "packing/PackingJob.h"
#include "station/Box.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <optional>

// The lines a box is written in, shared by the open-box journal and the outbox:
// one row or the job per line, texts UTF-8 with the backslash and control
// characters escaped as \\ and \xHH, so that a person can read the files.
namespace boxlines {

const QByteArray kJobKeyword = "job";

// "outer", "middle" or "pack", and back.
QByteArray keywordOf(BoxRow::Kind kind);
std::optional<BoxRow::Kind> kindOf(const QByteArray &keyword);

// Blanks are escaped too where a line holds several texts (the job).
QByteArray escaped(const QString &text, bool blanks = false);
// Nothing when an escape is broken.
std::optional<QString> unescaped(const QByteArray &bytes);

// A moment with its offset from UTC ("2026-12-07T10:00:05.120+08:00"): the same
// instant wherever it is read, the station's clock as the operator saw it.
QString timeText(const QDateTime &at);

// "pack A00017\n"
QByteArray rowLine(const BoxRow &row);
// "job 2 10 3 3 Z  W \n": sizes, digit counts, prefixes and suffixes.
QByteArray jobLine(const PackingJob &job);
// The job from what follows "job "; nothing when it does not read.
std::optional<PackingJob> jobFrom(const QByteArray &rest);

} // namespace boxlines
