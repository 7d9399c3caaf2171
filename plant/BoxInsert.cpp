#include "plant/BoxInsert.h"

#include "core/Gs1Ais.h"
#include "platform/Database.h"
#include "plant/DeliverySteps.h"
#include "plant/PlantSchema.h"
#include "plant/SqlArrays.h"
#include "station/files/BoxLines.h"
#include "packing/Gs1Rules.h"

#include <QStringList>

namespace boxinsert {

namespace {

// The schema version from which a box carries its number of packs.
constexpr int kPackCountVersion = 3;

// A pack's GS1 field, or NULL (a null text) when it has none.
QString field(const BoxRow &row, const QString &ai)
{
    return row.pack().value(ai).value_or(QString());
}

} // namespace

std::optional<QString> insertBox(database::Connection &db, int schemaVersion, const Outbox::Entry &e)
{
    QString outer;
    int packs = 0;
    for (const BoxRow &row : e.rows) {
        if (row.kind == BoxRow::OuterLabel && outer.isEmpty())
            outer = row.text;
        packs += row.kind == BoxRow::Pack ? 1 : 0;
    }
    QStringList box{e.id.toString(QUuid::WithoutBraces), e.station, outer, e.workbook, QString::number(e.firstRow),
                    QString::number(e.rows.size()), boxlines::timeText(e.writtenAt)};
    // A database still at an older version has no pack count: the board then counts the rows.
    const bool counted = schemaVersion >= kPackCountVersion;
    if (counted)
        box << QString::number(packs);
    deliverysteps::step();
    const bool gs1 = schemaVersion >= plantschema::kGs1Version;
    if (gs1) {
        const std::optional<gs1rules::BoxKind> kind = gs1rules::kindOfBox(e.rows);
        box << (kind ? kind->gtin : QString()) << (kind ? kind->lot.value_or(QString()) : QString());
    }
    const auto inserted = db.runOften(
        gs1 ? QStringLiteral("INSERT INTO zantrel.boxes (box_id, station, outer_label, workbook, first_row, row_count, written_at,"
                             " pack_count, gtin, lot) VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9, $10) ON CONFLICT DO NOTHING RETURNING box_id")
        : counted ? QStringLiteral("INSERT INTO zantrel.boxes (box_id, station, outer_label, workbook, first_row, row_count, written_at,"
                                 " pack_count) VALUES ($1, $2, $3, $4, $5, $6, $7, $8) ON CONFLICT DO NOTHING RETURNING box_id")
                : QStringLiteral("INSERT INTO zantrel.boxes (box_id, station, outer_label, workbook, first_row, row_count, written_at)"
                                 " VALUES ($1, $2, $3, $4, $5, $6, $7) ON CONFLICT DO NOTHING RETURNING box_id"),
        box);
    return inserted.empty() ? std::nullopt : std::optional<QString>(outer);
}

void insertRows(database::Connection &db, int schemaVersion, const Outbox::Entry &e)
{
    // Column by column, each an array: one statement whatever the box's size. Only
    // placeholders are in the text, never a value.
    QStringList index, kind, text, middle, gtin, serial, lot, expiry;
    QString under;
    for (size_t r = 0; r < e.rows.size(); ++r) {
        const BoxRow &row = e.rows[r];
        if (row.kind == BoxRow::MiddleLabel)
            under = row.text;
        index << QString::number(r);
        kind << QString::number(int(row.kind));
        text << row.text;
        middle << (row.kind == BoxRow::Pack ? under : QString());
        gtin << field(row, gs1::ai::kGtin);
        serial << field(row, gs1::ai::kSerial);
        lot << field(row, gs1::ai::kLot);
        expiry << field(row, gs1::ai::kExpiry);
    }
    QStringList parameters{e.id.toString(QUuid::WithoutBraces), sqlarrays::textArray(index), sqlarrays::textArray(kind),
                           sqlarrays::textArray(text), sqlarrays::textArray(middle)};
    deliverysteps::step();
    // An older record has no place for a GS1 pack's fields: it keeps its text alone.
    if (schemaVersion < plantschema::kGs1Version) {
        db.runOften(QStringLiteral("INSERT INTO zantrel.box_rows (box_id, row_index, kind, text, middle_label)"
                                   " SELECT $1::uuid, * FROM unnest($2::integer[], $3::smallint[], $4::text[], $5::text[])"),
                    parameters);
        return;
    }
    parameters << sqlarrays::textArray(gtin) << sqlarrays::textArray(serial) << sqlarrays::textArray(lot) << sqlarrays::textArray(expiry);
    db.runOften(QStringLiteral("INSERT INTO zantrel.box_rows (box_id, row_index, kind, text, middle_label, gtin, serial, lot, expiry)"
                               " SELECT $1::uuid, * FROM unnest($2::integer[], $3::smallint[], $4::text[], $5::text[],"
                               "                          $6::text[], $7::text[], $8::text[], $9::text[])"),
                parameters);
}

} // namespace boxinsert
