#pragma once

#include "packing/Batch.h"
#include "packing/PackingJob.h"
#include "packing/Box.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <optional>

// The records a box is written in, shared by the open-box journal and the outbox,
// on the station's line codec: one row or the job per line, texts UTF-8 with the
// backslash and control characters escaped as \\ and \xHH, so that a person can
// read the files.
namespace boxlines {

// Every keyword of the two files, in one table: each file uses those its records need.
namespace keyword {
inline const QByteArray kOuter = "outer";     // an outer label row
inline const QByteArray kMiddle = "middle";   // a middle label row
inline const QByteArray kPack = "pack";       // an inner pack row
inline const QByteArray kGs1 = "gs1";         // the GS1 fields of the pack row before it, AI and data by turns
inline const QByteArray kJob = "job";         // the box's job
inline const QByteArray kNumbers = "numbers"; // journal: the running numbers as they now stand
inline const QByteArray kRemove = "remove";   // journal: the last row taken back (earlier versions)
inline const QByteArray kPending = "pending"; // journal: the full box waits for its export (1) or not (0)
inline const QByteArray kExport = "export";   // journal: where the box is about to be written
inline const QByteArray kBatch = "batch";     // journal: the batch the station packs, with its values
inline const QByteArray kOperator = "operator"; // journal: an operator scanned into the box for the first time
inline const QByteArray kBy = "by";           // outbox: the operator who wrote the box, then every one who scanned into it
inline const QByteArray kBegin = "begin";     // journal: the lines up to "end" are one scan
inline const QByteArray kBox = "box";         // outbox: a box's id, time, first row and workbook
inline const QByteArray kStation = "station"; // outbox: the station that wrote it
inline const QByteArray kEnd = "end";         // the end of a scan (journal) or of a box (outbox)
} // namespace keyword

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

// "pack A00017\n"; a GS1 pack's row is followed by its fields:
// "pack (01)09501101530003(21)A1B2\ngs1 01 09501101530003 21 A1B2\n".
QByteArray rowLine(const BoxRow &row);
// The fields from what follows "gs1 "; nothing when they do not read.
std::optional<std::vector<gs1::Element>> fieldsFrom(const QByteArray &rest);
// A "gs1" line read: it gives its fields to the pack row before it, which must not have
// any yet. False when it cannot (the file is then unreadable there).
bool attachFields(std::vector<BoxRow> &rows, const QByteArray &rest);
// "job 2 10 3 3 Z  W \n": sizes, digit counts, prefixes and suffixes.
QByteArray jobLine(const PackingJob &job);
// The job from what follows "job "; nothing when it does not read.
std::optional<PackingJob> jobFrom(const QByteArray &rest);
// "batch 240117 L1 09501101530003 L24 271231  1000 2 10\n": number, line, product, lot,
// expiry, production date, planned packs, middle and outer size ("" and 0 for none).
QByteArray batchLine(const Batch &batch);
// The batch from what follows "batch "; nothing when it does not read.
std::optional<Batch> batchFrom(const QByteArray &rest);
// A 工号 as a line holds it; nothing for one that is no 工号 (1 to 20 letters, digits, _ . -).
std::optional<QString> operatorFrom(const QByteArray &field);

} // namespace boxlines
