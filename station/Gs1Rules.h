#pragma once

#include "core/Gs1Scan.h"

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

BoxKind kindOf(const gs1::ElementString &pack);

// The same pack, however it was spelled: its GTIN and serial. "" without both.
QString identityOf(const gs1::ElementString &pack);

// Why the pack may not go into a box of that kind (nothing: an empty box), told as
// the operator reads it; "" when it may. today and shelfDays: the least shelf life it
// must have left.
QString refusal(const gs1::ElementString &pack, const std::optional<BoxKind> &box, const QDate &today, int shelfDays);

} // namespace gs1rules
