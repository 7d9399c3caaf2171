#pragma once

#include "core/Gs1AiTable.h"

#include <QDate>
#include <QString>
#include <optional>

// The checks GS1's Syntax Dictionary names on one component of an AI's data.
namespace gs1 {

// Whether the piece passes the lint; today decides the century of dates. For a
// wrong check digit, expected holds the one that would be right.
struct LintResult
{
    bool ok = true;
    QString expected;
};

LintResult lint(Lint lint, const QString &piece, const QDate &today);

// GS1's character sets: 82 (X), 39 (Y), 64 (Z, base64url).
bool inCset82(QChar c);
bool inCset39(QChar c);
bool inCset64(QChar c);

// The two check characters of an alphanumeric key (GMN, MUDI) without them.
QString checkCharacters(const QString &body);

} // namespace gs1
