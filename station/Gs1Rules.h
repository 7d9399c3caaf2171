#pragma once

#include "core/Gs1Scan.h"
#include "packing/Pack.h"

#include <QDate>
#include <QString>
#include <optional>

// What a GS1 pack must be to go into the open outer box: a pack known by its product
// (01) and serial (21); one product, one lot (10) and one expiry (17) per box, set by
// its first pack (or their absence); and shelf life left at packing.
namespace gs1rules {

// What the first pack of a box set.
struct BoxKind
{
    QString gtin;
    std::optional<QString> lot;
    std::optional<QString> expiry; // YYMMDD as scanned
    bool operator==(const BoxKind &o) const = default;
};

BoxKind kindOf(const Pack &pack);

// The pack a scan read as: its fields in the order scanned, shown in human-readable form.
inline Pack packOf(const gs1::ElementString &scan)
{
    return Pack(scan.elements);
}

// A pack as a workbook's cell lists it: a GS1 pack when the text reads as one with
// its product and serial (day: the day it was written, for the century of its
// dates), else a pack known by its text.
Pack listedPack(const QString &text, const QDate &day);

// Whether the refusal is one of a box's kind (another product, lot or expiry): the
// end of a lot, which F8 closes short.
bool isOtherKind(const QString &refusal);

// Why the pack may not go into a box of that kind (nothing: an empty box), told as
// the operator reads it; "" when it may. today and shelfDays: the least shelf life it
// must have left.
QString refusal(const Pack &pack, const std::optional<BoxKind> &box, const QDate &today, int shelfDays);

} // namespace gs1rules
