#pragma once

#include "core/Gs1AiTable.h"

#include <QDate>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

// A GS1 scan read as its element strings: an optional symbology identifier, then
// application identifiers (AIs) and their data, separated by GS where an AI's data
// has no predefined length; or the human-readable form with each AI in parentheses;
// or the bracketed form "[01]…[21]…" (no GS1 data holds "[" or "]"). Every AI is
// checked against GS1's whole table (core/Gs1AiTable.h): its components' lengths,
// characters and checks, the AIs it needs and those it may not go with. Where an
// AI's data ends is never a guess: a predefined-length AI ends by its length, every
// other one at GS or at the end.
namespace gs1 {

// The GS character a scanner sends for FNC1.
constexpr char16_t kGroupSeparator = 0x1D;

struct Element
{
    QString ai;
    QString data;
    bool operator==(const Element &o) const = default;
};

struct ElementString
{
    QString symbology;             // "]d2" … as the scanner sent it; "" without one
    std::vector<Element> elements; // in the order scanned

    // The data of the AI, if the scan has it.
    std::optional<QString> value(const QString &ai) const;
    // "(01)09501101530003(21)A1B2", fields in the order scanned.
    QString humanReadable() const;
};

// Why a scan was not read; its values say where and what, in this order:
enum class ScanFault {
    NotGs1,         // what it starts with
    NoFields,       //
    AiExpected,     // the character's position
    ExtraSeparator, // the character's position
    UnknownAi,      // (ai: the digits the table gives its prefix, or as written)
    NoData,         //
    FixedDigits,    // digits it must have, digits it has
    TooLong,        // most characters, characters it has
    TooShort,       // least characters, characters it has
    NotDigit,       // the character
    NotInSet,       // the character
    CheckDigit,     // the right check digit or characters
    Invalid,        // the piece that fails (lint says which check)
    Twice,          // the first value, the other
    Excluded,       // the AI it may not go with
    Required,       // the alternatives it needs, each "01+21"
};

struct ScanRefusal
{
    ScanFault fault = ScanFault::NotGs1;
    QString ai;
    QStringList values;
    Lint lint = Lint::none;
};

// The refusal as the operator reads it, in one place.
QString describe(const ScanRefusal &refusal);

struct ScanRead
{
    std::optional<ElementString> read;
    ScanRefusal refusal; // when not read
    QString why;         // describe(refusal), when not read
};

// "不是 GS1 条码！": a scan that is no GS1 element string at all.
extern const QString kNotGs1;

// Whether the AIs that need others and those that may not go together are checked:
// a label's content symbol alone lacks the SSCC its (37) needs, which its other
// symbol carries.
enum class Pairs { Checked, Unchecked };

// Reads one scan (without its terminator). today decides the century of dates.
ScanRead readScan(const QString &scan, const QDate &today, Pairs pairs = Pairs::Checked);

// GS1's mandatory associations and invalid pairs over elements read together.
std::optional<ScanRefusal> checkPairs(const std::vector<Element> &elements);

// A date field (YYMMDD, DD 00 the month's last day) as a date; the century by
// GS1's rule around today. Invalid when it is no date.
QDate dateOf(const QString &yymmdd, const QDate &today);

// Whether GS1 has allocated the AI.
bool isKnownAi(const QString &ai);

// How a pack's fields are written where a person reads them (the list, the
// workbook's cell): the human-readable form, unless data holding "(NN)" would read
// back as other fields; then the bracketed form "[01]…[21]A(10)B", which reads back
// exactly.
QString cellForm(const std::vector<Element> &elements);

// The most data characters one GS1-128 symbol may carry.
constexpr int kMostGs1128Characters = 48;

// The data characters of the elements in one GS1-128 symbol: AIs, data, and the FNC1
// after each field of no predefined length that is not the last.
int dataCharacters(const std::vector<Element> &elements);

} // namespace gs1
