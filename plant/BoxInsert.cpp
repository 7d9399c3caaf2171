#include "plant/BoxInsert.h"

#include "core/Gs1Ais.h"
#include "platform/Database.h"
#include "plant/DeliverySteps.h"
#include "plant/PlantSchema.h"
#include "station/BoxLines.h"
#include "station/Gs1Rules.h"

#include <QStringList>

namespace boxinsert {

namespace {

// Rows per INSERT: at most eight parameters each, well below the protocol's 65,535.
constexpr int kRowsPerStatement = 1000;
// The schema version from which a box carries its number of packs.
constexpr int kPackCountVersion = 3;

// A pack's GS1 field, or NULL (a null text) when it has none.
QString field(const BoxRow &row, const QString &ai)
{
    return row.pack().value(ai).value_or(QString());
}

} // namespace

std::optional<QString> insert(database::Connection &db, int schemaVersion, const Outbox::Entry &e)
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
    const auto inserted = db.run(
        gs1 ? QStringLiteral("INSERT INTO zantrel.boxes (box_id, station, outer_label, workbook, first_row, row_count, written_at,"
                             " pack_count, gtin, lot) VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9, $10) ON CONFLICT DO NOTHING RETURNING box_id")
        : counted ? QStringLiteral("INSERT INTO zantrel.boxes (box_id, station, outer_label, workbook, first_row, row_count, written_at,"
                                 " pack_count) VALUES ($1, $2, $3, $4, $5, $6, $7, $8) ON CONFLICT DO NOTHING RETURNING box_id")
                : QStringLiteral("INSERT INTO zantrel.boxes (box_id, station, outer_label, workbook, first_row, row_count, written_at)"
                                 " VALUES ($1, $2, $3, $4, $5, $6, $7) ON CONFLICT DO NOTHING RETURNING box_id"),
        box);
    if (!inserted.empty()) {
        // The rows go in batches; only placeholders are put together, never a value.
        QString middle;
        // An older record has no place for a GS1 pack's fields: it keeps its text alone.
        for (size_t first = 0; first < e.rows.size(); first += kRowsPerStatement) {
            const size_t last = std::min(e.rows.size(), first + kRowsPerStatement);
            QStringList values;
            QStringList parameters{e.id.toString(QUuid::WithoutBraces)};
            for (size_t r = first; r < last; ++r) {
                const BoxRow &row = e.rows[r];
                if (row.kind == BoxRow::MiddleLabel)
                    middle = row.text;
                const int at = int(parameters.size()) + 1;
                if (gs1) {
                    values << QStringLiteral("($1, $%1::integer, $%2::smallint, $%3, $%4, $%5, $%6, $%7, $%8)")
                                  .arg(at).arg(at + 1).arg(at + 2).arg(at + 3).arg(at + 4).arg(at + 5).arg(at + 6).arg(at + 7);
                } else {
                    values << QStringLiteral("($1, $%1::integer, $%2::smallint, $%3, $%4)").arg(at).arg(at + 1).arg(at + 2).arg(at + 3);
                }
                parameters << QString::number(r) << QString::number(int(row.kind)) << row.text
                           << (row.kind == BoxRow::Pack ? middle : QString());
                if (gs1)
                    parameters << field(row, gs1::ai::kGtin) << field(row, gs1::ai::kSerial) << field(row, gs1::ai::kLot)
                               << field(row, gs1::ai::kExpiry);
            }
            deliverysteps::step();
            db.run((gs1 ? QStringLiteral("INSERT INTO zantrel.box_rows (box_id, row_index, kind, text, middle_label, gtin, serial, lot, expiry) VALUES ")
                        : QStringLiteral("INSERT INTO zantrel.box_rows (box_id, row_index, kind, text, middle_label) VALUES "))
                       + values.join(QStringLiteral(", ")),
                   parameters);
        }
    }
    return inserted.empty() ? std::nullopt : std::optional<QString>(outer);
}

} // namespace boxinsert
