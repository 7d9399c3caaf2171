#pragma once

#include "core/Gs1Uris.h"

#include <QDateTime>
#include <QString>
#include <optional>

class QIODevice;
namespace database {
class Connection;
}

// The record's aggregation as one EPCIS 2.0 JSON-LD document (EPCISDocument). A GS1
// pack is named by its GTIN and serial (SGTIN or Digital Link), every other pack by
// its text under the plant's base, as always; a GS1 box's events carry its lot and
// expiry (CBV master data attributes):
// per recorded box, AggregationEvents ADD of the packs into each middle box and of
// the middle boxes into the outer box; per take-out a DELETE, per put-in an ADD (of a
// middle box the box never had, into the outer box first), each with the pack's lot
// and expiry; per void a DELETE of everything the box held then (its middle boxes
// and its own packs from the outer box, each middle box's packs from it), per
// restore the same as ADDs. A middle box is named under its outer box's record id.
// Written as it is read, a few thousand rows at a time, so that a day of a line
// streams out in flat memory.
namespace epcis {

struct Options
{
    QDateTime from, to;       // boxes written and changes made in [from, to)
    QString station;          // "" for every station
    QString idBase;           // labels and barcodes become URIs under it, percent-encoded
    int companyPrefixDigits = 7; // of an SSCC: where the GS1 company prefix ends
    // A GS1 pack (and an SSCC) is an EPC URI only where its company prefix is known:
    // with known prefixes (GS1's table, companies' own prefixes), from them alone, every
    // other key a Digital Link under dlBase; else with the plant's one length for every
    // key (a plant that packs only its own products); else a GTIN is a Digital Link and
    // an SSCC split at companyPrefixDigits.
    std::optional<int> gcpLength;
    std::optional<gs1uri::GcpLengths> gcpTable;
    QString dlBase = QStringLiteral("https://id.gs1.org/");
};

// The SSCC's EPC URI (urn:epc:id:sscc:CompanyPrefix.SerialReference); "" when the
// text is no SSCC or the prefix length does not fit (6 to 12 digits).
QString ssccUrn(const QString &sscc, int companyPrefixDigits);
// "outer", "middle", "pack" or "station": the text under the base, percent-encoded.
QString idFor(const QString &base, const char *kind, const QString &text);
// The stable id of an event: the same box gives the same id in every export.
QString eventId(const QString &key);

// Raises a RuntimeError when the record cannot be read; the number of events written.
qint64 write(database::Connection &db, const Options &options, QIODevice &out);

} // namespace epcis
