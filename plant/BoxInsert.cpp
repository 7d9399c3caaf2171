#include "plant/BoxInsert.h"

#include "core/Gs1Ais.h"
#include "platform/Database.h"
#include "plant/DeliverySteps.h"
#include "plant/PlantSchema.h"
#include "plant/SqlArrays.h"
#include "station/files/BoxLines.h"
#include "packing/Gs1Rules.h"

#include <QSet>
#include <QStringList>

namespace boxinsert {

namespace {

// The schema version from which a box carries its number of packs.
constexpr int kPackCountVersion = 3;

// A pack's GS1 field, or NULL (a null text) when it has none.
QString field(const Pack &pack, const QString &ai)
{
    return pack.value(ai).value_or(QString());
}

} // namespace

namespace {

// The values of the boxes table's columns for a box, as far as the version has them.
QStringList boxColumns(int schemaVersion, const Outbox::Entry &e, QString &outer)
{
    int packs = 0;
    for (const BoxRow &row : e.rows) {
        if (row.kind == BoxRow::OuterLabel && outer.isEmpty())
            outer = row.text;
        packs += row.kind == BoxRow::Pack ? 1 : 0;
    }
    QStringList box{e.id.toString(QUuid::WithoutBraces), e.station, outer, e.workbook, QString::number(e.firstRow),
                    QString::number(e.rows.size()), boxlines::timeText(e.writtenAt)};
    // A database still at an older version has no pack count: the board then counts the rows.
    if (schemaVersion >= kPackCountVersion)
        box << QString::number(packs);
    if (schemaVersion >= plantschema::kGs1Version) {
        const std::optional<gs1rules::BoxKind> kind = gs1rules::kindOfBox(e.rows);
        box << (kind ? kind->gtin : QString()) << (kind ? kind->lot.value_or(QString()) : QString());
    }
    if (schemaVersion >= plantschema::kBatchVersion)
        box << (e.job && !e.job->sBatch.isEmpty() ? e.job->sBatch : QString()); // NULL: no batch
    if (schemaVersion >= plantschema::kOperatorVersion) // NULL where nobody logs in
        box << (e.writtenBy.isEmpty() ? QString() : e.writtenBy) << (e.operators.isEmpty() ? QString() : e.operators.join(QLatin1Char(' ')));
    return box;
}

} // namespace

std::optional<QString> insertBox(database::Connection &db, int schemaVersion, const Outbox::Entry &e)
{
    QString outer;
    const QStringList box = boxColumns(schemaVersion, e, outer);
    deliverysteps::step();
    const bool gs1 = schemaVersion >= plantschema::kGs1Version;
    const bool counted = schemaVersion >= kPackCountVersion;
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

std::vector<Stored> insertBoxes(database::Connection &db, int schemaVersion, const Outbox::Entry *first, size_t count)
{
    std::vector<Stored> stored;
    // Column by column, one statement for them all.
    const bool batches = schemaVersion >= plantschema::kBatchVersion;
    const bool operators = schemaVersion >= plantschema::kOperatorVersion;
    std::vector<QStringList> columns(operators ? 13 : batches ? 11 : 10);
    std::vector<QString> outers(count);
    for (size_t n = 0; n < count; ++n) {
        const QStringList box = boxColumns(schemaVersion, first[n], outers[n]);
        for (size_t c = 0; c < columns.size(); ++c)
            columns[c] << box[qsizetype(c)];
    }
    QStringList parameters;
    for (const QStringList &c : columns)
        parameters << sqlarrays::textArray(c);
    deliverysteps::step();
    const QString names = QStringLiteral("box_id, station, outer_label, workbook, first_row, row_count, written_at, pack_count, gtin, lot")
                          + (batches ? QStringLiteral(", batch") : QString()) + (operators ? QStringLiteral(", written_by, operators") : QString());
    const QString types = QStringLiteral("$1::uuid[], $2::text[], $3::text[], $4::text[], $5::integer[], $6::integer[],"
                                         " $7::timestamptz[], $8::integer[], $9::text[], $10::text[]")
                          + (batches ? QStringLiteral(", $11::text[]") : QString())
                          + (operators ? QStringLiteral(", $12::text[], $13::text[]") : QString());
    const auto inserted = db.runOften(
        QStringLiteral("INSERT INTO zantrel.boxes (%1) SELECT * FROM unnest(%2) ON CONFLICT DO NOTHING RETURNING box_id").arg(names, types),
        parameters);
    QSet<QUuid> now;
    for (const database::Row &row : inserted)
        now.insert(QUuid::fromString(row[0].value_or(QString())));
    // In the outbox's order: a box the record had already is left out.
    for (size_t n = 0; n < count; ++n)
        if (now.contains(first[n].id))
            stored.push_back({&first[n], outers[n]});
    return stored;
}

void insertRows(database::Connection &db, int schemaVersion, const std::vector<Stored> &boxes)
{
    // Column by column, each an array: one statement whatever the boxes' sizes. Only
    // placeholders are in the text, never a value.
    enum { Box, Index, Kind, Text, Middle, Gtin, Serial, Lot, Expiry, Columns };
    sqlarrays::TextArray column[Columns];
    bool any = false;
    for (const Stored &s : boxes) {
        const QString id = s.entry->id.toString(QUuid::WithoutBraces);
        QString under;
        for (size_t r = 0; r < s.entry->rows.size(); ++r) {
            const BoxRow &row = s.entry->rows[r];
            if (row.kind == BoxRow::MiddleLabel)
                under = row.text;
            column[Box].add(id);
            column[Index].add(QString::number(r));
            column[Kind].add(QString::number(int(row.kind)));
            column[Text].add(row.text);
            column[Middle].add(row.kind == BoxRow::Pack ? under : QString());
            const Pack pack = row.pack();
            column[Gtin].add(field(pack, gs1::ai::kGtin));
            column[Serial].add(field(pack, gs1::ai::kSerial));
            column[Lot].add(field(pack, gs1::ai::kLot));
            column[Expiry].add(field(pack, gs1::ai::kExpiry));
            any = true;
        }
    }
    if (!any)
        return;
    QStringList parameters{column[Box].text(), column[Index].text(), column[Kind].text(), column[Text].text(), column[Middle].text()};
    deliverysteps::step();
    // An older record has no place for a GS1 pack's fields: it keeps its text alone.
    if (schemaVersion < plantschema::kGs1Version) {
        db.runOften(QStringLiteral("INSERT INTO zantrel.box_rows (box_id, row_index, kind, text, middle_label)"
                                   " SELECT * FROM unnest($1::uuid[], $2::integer[], $3::smallint[], $4::text[], $5::text[])"),
                    parameters);
        return;
    }
    parameters << column[Gtin].text() << column[Serial].text() << column[Lot].text() << column[Expiry].text();
    db.runOften(QStringLiteral("INSERT INTO zantrel.box_rows (box_id, row_index, kind, text, middle_label, gtin, serial, lot, expiry)"
                               " SELECT * FROM unnest($1::uuid[], $2::integer[], $3::smallint[], $4::text[], $5::text[],"
                               "                      $6::text[], $7::text[], $8::text[], $9::text[])"),
                parameters);
}

} // namespace boxinsert
