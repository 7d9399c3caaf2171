#pragma once

#include <QDate>
#include <QDateTime>
#include <QString>

// Every refused scan on record, so that whoever must find the packs to scan again
// can read them all: files/refused-yyyymmdd.txt, plain UTF-8 text, one line per
// piece of a refused text (the pieces between the scanner's CR LF), each with the
// time, the reason and which piece of how many it is:
//
//   2026-12-07 10:00:01	条码长度不正确	3/70	B00003
//
// At a station whose operators log in, the 工号 of the one on duty follows on each line.
// Control characters (0x00–0x1F, 0x7F–0x9F) are written as \xHH, the backslash as \\.
namespace refusalrecord {

QString fileName(const QDate &day);

// The pieces of a refused text as the operator would scan them again.
QStringList piecesOf(const QString &text);

// Appends the refusal to the day's file in that folder (made when missing).
// Returns "" or, when it could not be written, why.
// bytes: the text holds one character per byte as received (Latin-1), and every
// byte beyond ASCII is written as \xHH too.
QString record(const QString &filesFolder, const QDateTime &at, const QString &reason, const QString &text, bool bytes = false,
               const QString &operatorId = {});

} // namespace refusalrecord
