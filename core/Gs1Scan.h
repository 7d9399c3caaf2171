#pragma once

#include <QDate>
#include <QString>
#include <optional>
#include <vector>

// A GS1 scan read as its element strings: an optional symbology identifier, then
// application identifiers (AIs) and their data, separated by GS where an AI's data
// has no predefined length, or the human-readable form with each AI in parentheses.
// Every AI is checked against the table of the AIs this station knows: its data's
// length and characters, check digits and dates. An AI not in the table is refused,
// never guessed at (where would its data end?).
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

struct ScanRead
{
    std::optional<ElementString> read;
    QString why; // what is wrong and where, as the operator reads it, when not read
};

// "不是 GS1 条码！": a symbology identifier of a symbol that is not GS1.
extern const QString kNotGs1;

// Reads one scan (without its terminator). today decides the century of dates.
ScanRead readScan(const QString &scan, const QDate &today);

// A date field (YYMMDD, DD 00 the month's last day) as a date; the century by
// GS1's rule around today. Invalid when it is no date.
QDate dateOf(const QString &yymmdd, const QDate &today);

// Whether the AI is one this station knows.
bool isKnownAi(const QString &ai);

} // namespace gs1
