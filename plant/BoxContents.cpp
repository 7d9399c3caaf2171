#include "plant/BoxContents.h"

#include "plant/ChangeKinds.h"
#include "plant/PlantSchema.h"
#include "plant/RowKinds.h"
#include "platform/Database.h"

#include <QHash>

namespace boxcontents {

std::vector<Held> Contents::in(const QString &middle) const
{
    std::vector<Held> held;
    for (const Held &h : packs)
        if (h.middle == middle)
            held.push_back(h);
    return held;
}

Schema Schema::of(int version)
{
    return {version >= plantschema::kGs1Version, version >= plantschema::kReworkVersion};
}

Contents of(database::Connection &db, const QString &boxId, std::optional<qint64> before, Schema schema)
{
    const bool gs1 = schema.gs1;
    using database::text;
    // A pack is one pack by the record's key (a GS1 pack's GTIN and serial), however spelled.
    const QString key = gs1 ? QStringLiteral("zantrel.pack_key(%1.text, %1.gtin, %1.serial)") : QStringLiteral("%1.text");
    const QString fields = gs1 ? QStringLiteral("%1.gtin, %1.serial, %1.lot, %1.expiry") : QStringLiteral("NULL, NULL, NULL, NULL");
    const QString packed = QStringLiteral("SELECT 0::bigint, r.row_index, 'packed', r.kind, r.text, r.middle_label, %1, %2"
                                          " FROM zantrel.box_rows r WHERE r.box_id = $1::uuid AND r.kind IN ({middle}, {pack})")
                               .arg(key.arg(QLatin1String("r")), fields.arg(QLatin1String("r")));
    QString changes = QStringLiteral("SELECT c.change_id, 0, c.kind, {pack}, c.barcode, c.middle_label, %1, %2"
                                     " FROM zantrel.box_changes c WHERE c.box_id = $1::uuid AND c.barcode IS NOT NULL"
                                     "   AND (coalesce($2, '') = '' OR c.change_id < $2::bigint)")
                          .arg(key.arg(QLatin1String("c")).replace(QLatin1String("c.text"), QLatin1String("c.barcode")),
                               fields.arg(QLatin1String("c")));
    const std::vector<database::Row> rows =
        db.run(rowkind::named(packed + (schema.changes ? QStringLiteral(" UNION ALL ") + changes : QString()) + QStringLiteral(" ORDER BY 1, 2")),
               schema.changes ? QStringList{boxId, before ? QString::number(*before) : QString()} : QStringList{boxId});

    Contents box;
    QHash<QString, size_t> at; // key -> index in box.packs
    std::vector<bool> gone;
    for (const database::Row &r : rows) {
        const std::optional<changekind::Kind> kind = changekind::named(text(r, 2));
        if (text(r, 3).toInt() == 1) {
            box.middles << text(r, 4);
            continue;
        }
        const QString k = text(r, 6);
        if (kind == changekind::Kind::TakeOut) {
            if (const auto i = at.constFind(k); i != at.cend()) {
                gone[*i] = true;
                at.erase(i);
            }
            continue;
        }
        const QString middle = text(r, 5);
        if (!middle.isEmpty() && !box.middles.contains(middle))
            box.middles << middle; // a middle box a put-in named anew
        if (const auto i = at.constFind(k); i != at.cend())
            gone[*i] = true; // never twice: the record refuses it, but a replay must not list it twice
        at.insert(k, box.packs.size());
        box.packs.push_back({text(r, 4), middle, text(r, 7), text(r, 8), text(r, 9), text(r, 10)});
        gone.push_back(false);
    }
    std::vector<Held> kept;
    for (size_t i = 0; i < box.packs.size(); ++i)
        if (!gone[i])
            kept.push_back(std::move(box.packs[i]));
    box.packs = std::move(kept);
    return box;
}

} // namespace boxcontents
