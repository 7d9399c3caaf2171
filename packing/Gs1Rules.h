#pragma once

#include "core/Gs1Scan.h"
#include "packing/Pack.h"
#include "packing/Batch.h"
#include "packing/Box.h"

#include <QDate>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

// What a GS1 pack must be to go into the open outer box: a pack known by its product
// (01) and serial (21); one product, one lot (10) and one expiry (17) per box, set by
// its first pack (or their absence); and shelf life left at packing.
namespace gs1rules {

// A GS1 box's product, lot and expiry: those of its first GS1 pack.
struct BoxKind
{
    QString gtin;
    std::optional<QString> lot;
    std::optional<QString> expiry; // YYMMDD as scanned
    bool operator==(const BoxKind &o) const = default;
};

BoxKind kindOf(const Pack &pack);

// The kind of a box as its rows hold it: the one decision of it for the intake, the
// label, the outbox, the record and EPCIS. Nothing for a box without GS1 packs.
std::optional<BoxKind> kindOfBox(const std::vector<BoxRow> &rows);

// Whether two kinds are one: the same product and lot, and expiries on the same day
// ((17)270600 is (17)270630). day decides the century of the dates.
bool sameKind(const BoxKind &a, const BoxKind &b, const QDate &day);

// The pack a scan read as: its fields in the order scanned.
inline Pack packOf(const gs1::ElementString &scan)
{
    return Pack(scan.elements);
}

// A pack as a workbook's cell lists it: a GS1 pack when the text reads as one with
// its product and serial, in the human-readable or the bracketed form (day: the day
// it was written, for the century of its dates), else a pack known by its text.
Pack listedPack(const QString &text, const QDate &day);
// A pack as a person types or scans it into a lookup: read with the station's reader
// in any form (a scanner's symbology identifier, GS-led, plain or human-readable), a
// GS1 pack when it names a product and serial, else a pack known by its text.
Pack packTyped(const QString &text, const QDate &day);

// Why a pack may not go into the box; its values in this order:
enum class PackFault {
    None,
    NoGtin,
    NoSerial,
    OtherProduct, // the box's, the pack's (each "(01)…" or its absence)
    OtherLot,     // the box's, the pack's
    OtherExpiry,  // the box's, the pack's
    Expired,      // the expiry, yyyy-MM-dd
    ShelfLife,    // the days required, the expiry
    BatchProduct, // the batch's, the pack's
    BatchLot,     // the batch's, the pack's
    BatchExpiry,  // the batch's, the pack's
};

struct PackRefusal
{
    PackFault fault = PackFault::None;
    QStringList values;
};

// Another product, lot or expiry than the box's: the end of a lot, which F8 closes short.
bool isOtherKind(PackFault fault);

// The refusal as the operator reads it, in one place; "" for none.
QString describe(const PackRefusal &refusal);

// Why the pack may not go into a box of that kind (nothing: an empty box). today and
// shelfDays: the least shelf life it must have left.
PackRefusal check(const Pack &pack, const std::optional<BoxKind> &box, const QDate &today, int shelfDays);

// Why the pack is not of the batch: another product, lot or expiry than those the
// batch has (a batch without one does not ask for it). None when it is of the batch.
PackRefusal checkBatch(const Pack &pack, const Batch &batch, const QDate &today);

// describe(check(…)).
QString refusal(const Pack &pack, const std::optional<BoxKind> &box, const QDate &today, int shelfDays);

} // namespace gs1rules
