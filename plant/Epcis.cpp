#include "plant/Epcis.h"

#include "plant/BoxContents.h"
#include "plant/ChangeKinds.h"
#include "plant/PlantSchema.h"
#include "plant/RowKinds.h"

#include "core/Gs1.h"
#include "core/Gs1Ais.h"
#include "core/Gs1Scan.h"
#include "core/RuntimeError.h"
#include "platform/Database.h"
#include "packing/Gs1Rules.h"

#include <QIODevice>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>
#include <QUuid>

namespace epcis {

namespace {

using database::text;

constexpr int kRowsPerFetch = 5000;
// The namespace of this program's event ids (a fixed, random UUID).
const QUuid kEventNamespace(QStringLiteral("{9d6f3c2a-4b71-4e0c-8a5f-1f2e7c3b9d40}"));

QString offsetText(int seconds)
{
    const int minutes = std::abs(seconds) / 60;
    return QStringLiteral("%1%2:%3").arg(seconds < 0 ? QLatin1Char('-') : QLatin1Char('+'))
        .arg(minutes / 60, 2, 10, QLatin1Char('0')).arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

// An event's time with its offset, in this program's time zone.
void stamp(QJsonObject &event, qint64 epochMs)
{
    const QDateTime t = QDateTime::fromMSecsSinceEpoch(epochMs);
    const QString offset = offsetText(t.offsetFromUtc());
    event.insert(QStringLiteral("eventTime"), t.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz")) + offset);
    event.insert(QStringLiteral("eventTimeZoneOffset"), offset);
}

class Writer
{
public:
    Writer(QIODevice &out, const Options &o) : m_out(out), m_options(o) {}

    QString outer(const QString &label) const
    {
        if (!gs1::isSscc(label))
            return idFor(m_options.idBase, "outer", label);
        // Known prefixes name it, or it is a Digital Link; without them, the plant's length.
        const std::optional<int> digits =
            m_options.gcpTable ? m_options.gcpTable->of(label.mid(1)) : std::optional<int>(m_options.gcpLength.value_or(m_options.companyPrefixDigits));
        const QString urn = digits ? ssccUrn(label, *digits) : QString();
        return urn.isEmpty() ? gs1uri::ssccDigitalLink(m_options.dlBase, label) : urn;
    }
    // Middle labels start again at every Start: under its outer box's record id, a
    // middle box is one box in the whole plant and the company.
    QString middle(const QString &boxId, const QString &label) const
    {
        return m_options.idBase + QStringLiteral("middle/") + boxId + QLatin1Char('/') + QString::fromLatin1(QUrl::toPercentEncoding(label));
    }
    QString pack(const QString &barcode, const QString &gtin = {}, const QString &serial = {}) const
    {
        if (gtin.isEmpty())
            return idFor(m_options.idBase, "pack", barcode);
        const std::optional<int> digits = m_options.gcpTable ? m_options.gcpTable->of(gtin.mid(1)) : m_options.gcpLength;
        const QString urn = digits ? gs1uri::sgtin(gtin, serial, *digits) : QString();
        return urn.isEmpty() ? gs1uri::digitalLink(m_options.dlBase, gtin, serial) : urn;
    }

    // lotAndExpiry: a GS1 box's, as CBV master data of the packs ("" where they have none).
    void event(const QString &key, qint64 epochMs, const QString &action, const QString &parent, const QStringList &children,
               const QString &station, bool packing, const std::pair<QString, QString> &lotAndExpiry = {})
    {
        QJsonObject e{{QStringLiteral("type"), QStringLiteral("AggregationEvent")},
                      {QStringLiteral("eventID"), eventId(key)}};
        stamp(e, epochMs);
        e.insert(QStringLiteral("parentID"), parent);
        QJsonArray list;
        for (const QString &c : children)
            list.append(c);
        e.insert(QStringLiteral("childEPCs"), list);
        e.insert(QStringLiteral("action"), action);
        e.insert(QStringLiteral("bizStep"), packing ? QStringLiteral("packing") : QStringLiteral("unpacking"));
        e.insert(QStringLiteral("disposition"), QStringLiteral("in_progress"));
        e.insert(QStringLiteral("readPoint"), QJsonObject{{QStringLiteral("id"), idFor(m_options.idBase, "station", station)}});
        if (!lotAndExpiry.first.isEmpty())
            e.insert(QStringLiteral("cbvmda:lotNumber"), lotAndExpiry.first);
        if (const QDate expiry = gs1::dateOf(lotAndExpiry.second, QDateTime::fromMSecsSinceEpoch(epochMs).date()); expiry.isValid())
            e.insert(QStringLiteral("cbvmda:itemExpirationDate"), expiry.toString(Qt::ISODate));
        put((m_events++ ? QByteArrayLiteral(",\n") : QByteArrayLiteral("\n")) + QJsonDocument(e).toJson(QJsonDocument::Compact));
    }

    void put(const QByteArray &bytes)
    {
        if (m_out.write(bytes) != bytes.size())
            throw RuntimeError(RuntimeError::kSystemBase, QStringLiteral("EPCIS"),
                               QStringLiteral("无法写出 EPCIS 文档：%1").arg(m_out.errorString()));
    }
    qint64 events() const { return m_events; }

private:
    QIODevice &m_out;
    const Options &m_options;
    qint64 m_events = 0;
};

// A GS1 box's kind as its first recorded pack decides it, as the station did.
gs1rules::BoxKind kindOfRecorded(const QString &gtin, const QString &serial, const QString &lot, const QString &expiry)
{
    std::vector<gs1::Element> fields{{gs1::ai::kGtin, gtin}};
    if (!serial.isEmpty())
        fields.push_back({gs1::ai::kSerial, serial});
    if (!lot.isEmpty())
        fields.push_back({gs1::ai::kLot, lot});
    if (!expiry.isEmpty())
        fields.push_back({gs1::ai::kExpiry, expiry});
    return gs1rules::kindOf(Pack(fields));
}

// One recorded box as packed: packs into each middle box, the middle boxes into the outer box.
struct PackedBox
{
    QString id, station, outer;
    qint64 at = 0;
    QStringList middles;
    std::vector<std::pair<QString, QStringList>> packsByMiddle; // in listing order
    QStringList loose;                                          // packs under no middle label
    std::optional<gs1rules::BoxKind> kind;                      // of its first GS1 pack

    // The kind's lot and expiry, "" where it has none.
    std::pair<QString, QString> lotAndExpiry() const
    {
        return kind ? std::pair{kind->lot.value_or(QString()), kind->expiry.value_or(QString())} : std::pair<QString, QString>();
    }

    // A pack comes with its id already made.
    void add(int kind, const QString &text, const QString &middle, const QString &packId)
    {
        if (kind == 1) {
            middles << text;
        } else if (kind == 2) {
            if (middle.isEmpty()) {
                loose << packId;
                return;
            }
            if (packsByMiddle.empty() || packsByMiddle.back().first != middle)
                packsByMiddle.push_back({middle, {}});
            packsByMiddle.back().second << packId;
        }
    }

    void writeTo(Writer &w) const
    {
        for (const auto &[middle, packs] : packsByMiddle)
            w.event(QStringLiteral("packed:%1:%2").arg(id, middle), at, QStringLiteral("ADD"), w.middle(id, middle), packs, station, true,
                    lotAndExpiry());
        QStringList children;
        for (const QString &m : middles)
            children << w.middle(id, m);
        children << loose;
        w.event(QStringLiteral("packed:%1").arg(id), at, QStringLiteral("ADD"), w.outer(outer), children, station, true,
                loose.isEmpty() ? std::pair<QString, QString>() : lotAndExpiry());
    }
};

// Rows of a cursor, a fetch at a time.
template <typename Each>
void eachRow(database::Connection &db, const QString &select, const QStringList &parameters, Each each)
{
    db.run(QStringLiteral("DECLARE rows NO SCROLL CURSOR FOR ") + select, parameters);
    for (;;) {
        const std::vector<database::Row> rows = db.run(QStringLiteral("FETCH %1 FROM rows").arg(kRowsPerFetch));
        for (const database::Row &r : rows)
            each(r);
        if (rows.size() < size_t(kRowsPerFetch))
            break;
    }
    db.runScript(QStringLiteral("CLOSE rows"));
}

// The recorded boxes as packed, in the order written.
void writePackedBoxes(database::Connection &db, Writer &w, const QStringList &range, const QString &fields)
{
    PackedBox box;
    eachRow(db,
            QStringLiteral("SELECT b.box_id, b.station, b.outer_label, (extract(epoch FROM b.written_at) * 1000)::bigint,"
                           "       r.kind, r.text, r.middle_label, %1"
                           " FROM zantrel.boxes b JOIN zantrel.box_rows r USING (box_id)"
                           " WHERE b.written_at >= to_timestamp($1::float8) AND b.written_at < to_timestamp($2::float8)"
                           "   AND ($3 = '' OR b.station = $3)"
                           " ORDER BY b.written_at, b.box_id, r.row_index").arg(fields),
            range, [&](const database::Row &r) {
                if (text(r, 0) != box.id) {
                    if (!box.id.isEmpty())
                        box.writeTo(w);
                    box = PackedBox{text(r, 0), text(r, 1), text(r, 2), text(r, 3).toLongLong(), {}, {}, {}, {}};
                }
                const QString gtin = text(r, 7), serial = text(r, 8);
                if (!gtin.isEmpty() && !box.kind)
                    box.kind = kindOfRecorded(gtin, serial, text(r, 9), text(r, 10));
                box.add(text(r, 4).toInt(), text(r, 5), text(r, 6), text(r, 4).toInt() == 2 ? w.pack(text(r, 5), gtin, serial) : QString());
            });
    if (!box.id.isEmpty())
        box.writeTo(w);
}

// The lot and expiry all these packs share ("" where they differ or have none).
std::pair<QString, QString> sharedLotAndExpiry(const std::vector<boxcontents::Held> &packs)
{
    if (packs.empty())
        return {};
    std::pair<QString, QString> shared{packs.front().lot, packs.front().expiry};
    for (const boxcontents::Held &h : packs) {
        if (h.lot != shared.first)
            shared.first.clear();
        if (h.expiry != shared.second)
            shared.second.clear();
    }
    return shared;
}

// A void takes everything the box held out of it, a restore puts it back: the outer
// box's middle boxes and its own packs in one event, each middle box's packs in one each.
void writeWholeBox(database::Connection &db, Writer &w, const database::Row &r, bool gs1)
{
    const bool restore = changekind::named(text(r, 1)) == changekind::Kind::Restore;
    const QString boxId = text(r, 2), key = QStringLiteral("change:%1:%2").arg(text(r, 9), text(r, 0));
    const qint64 at = text(r, 7).toLongLong();
    const QString station = text(r, 3), action = restore ? QStringLiteral("ADD") : QStringLiteral("DELETE");
    // Nothing can change in a void box: at a restore it holds what it held at its void.
    const boxcontents::Contents held = boxcontents::of(db, boxId, text(r, 0).toLongLong(), {gs1, true});
    const auto packIds = [&w](const std::vector<boxcontents::Held> &packs) {
        QStringList ids;
        for (const boxcontents::Held &h : packs)
            ids << w.pack(h.text, h.gtin, h.serial);
        return ids;
    };
    const auto middles = [&] {
        for (const QString &m : held.middles) {
            const std::vector<boxcontents::Held> packs = held.in(m);
            if (!packs.empty())
                w.event(key + QLatin1Char(':') + m, at, action, w.middle(boxId, m), packIds(packs), station, restore, sharedLotAndExpiry(packs));
        }
    };
    if (restore)
        middles(); // as packed: the packs into their middle boxes first
    QStringList children;
    for (const QString &m : held.middles)
        children << w.middle(boxId, m);
    const std::vector<boxcontents::Held> own = held.in(QString());
    children << packIds(own);
    w.event(key, at, action, w.outer(text(r, 4)), children, station, restore, sharedLotAndExpiry(own));
    if (!restore)
        middles();
}

void writeChanges(database::Connection &db, Writer &w, const QStringList &range, const QString &fields, bool gs1)
{
    // Changes: where the pack was (its middle box, or the outer box), what happened.
    // A pack is where its last put-in into the box up to this change placed it, or,
    // never put in, where it was packed.
    eachRow(db,
            rowkind::named(QStringLiteral("SELECT c.change_id, c.kind, c.box_id, b.station, b.outer_label, c.barcode,"
                           "       (SELECT w.middle_label FROM (SELECT p.middle_label, p.change_id FROM zantrel.box_changes p"
                           "                                    WHERE p.box_id = c.box_id AND p.barcode = c.barcode"
                           "                                      AND p.kind = 'put-in' AND p.change_id <= c.change_id"
                           "                                    UNION ALL SELECT r.middle_label, 0 FROM zantrel.box_rows r"
                           "                                    WHERE r.box_id = c.box_id AND r.kind = {pack} AND r.text = c.barcode) w"
                           "        ORDER BY w.change_id DESC LIMIT 1),"
                           "       (extract(epoch FROM c.changed_at) * 1000)::bigint,"
                           // A put-in into a middle box the box never had brings that middle box in first.
                           "       (c.kind = 'put-in' AND c.middle_label IS NOT NULL"
                           "        AND NOT EXISTS (SELECT FROM zantrel.box_rows r WHERE r.box_id = c.box_id AND r.kind = {middle}"
                           "                                                      AND r.text = c.middle_label)"
                           "        AND NOT EXISTS (SELECT FROM zantrel.box_changes e WHERE e.box_id = c.box_id AND e.kind = 'put-in'"
                           "                                                        AND e.middle_label = c.middle_label"
                           "                                                        AND e.change_id < c.change_id)),"
                           "       to_jsonb(c) ->> 'plant_id', %1"
                           " FROM zantrel.box_changes c JOIN zantrel.boxes b USING (box_id)"
                           " WHERE c.changed_at >= to_timestamp($1::float8) AND c.changed_at < to_timestamp($2::float8)"
                           "   AND ($3 = '' OR b.station = $3)"
                           " ORDER BY c.changed_at, c.change_id").arg(fields)),
            range, [&](const database::Row &r) {
                const std::optional<changekind::Kind> kind = changekind::named(text(r, 1));
                if (!kind || !changekind::ofOnePack(*kind)) {
                    writeWholeBox(db, w, r, gs1);
                    return;
                }
                // Change numbers start at 1 in every plant: the plant's record id makes
                // the event's id unique across plants and company databases (a record
                // before version 7 has none, and is one plant's).
                const QString key = QStringLiteral("change:%1:%2").arg(text(r, 9), text(r, 0));
                const qint64 at = text(r, 7).toLongLong();
                const QString boxId = text(r, 2);
                const QString parent = text(r, 6).isEmpty() ? w.outer(text(r, 4)) : w.middle(boxId, text(r, 6));
                const bool putIn = *kind == changekind::Kind::PutIn;
                if (putIn && database::isTrue(r[8]))
                    w.event(key + QStringLiteral(":middle"), at, QStringLiteral("ADD"), w.outer(text(r, 4)), {parent}, text(r, 3), true);
                w.event(key, at, putIn ? QStringLiteral("ADD") : QStringLiteral("DELETE"), parent,
                        {w.pack(text(r, 5), text(r, 10), text(r, 11))}, text(r, 3), putIn, {text(r, 12), text(r, 13)});
            });
}

} // namespace

QString ssccUrn(const QString &sscc, int digits)
{
    if (!gs1::isSscc(sscc) || digits < 6 || digits > 12)
        return {};
    return QStringLiteral("urn:epc:id:sscc:%1.%2%3").arg(sscc.mid(1, digits), sscc.left(1), sscc.mid(1 + digits, 16 - digits));
}

QString idFor(const QString &base, const char *kind, const QString &text)
{
    return base + QLatin1String(kind) + QLatin1Char('/') + QString::fromLatin1(QUrl::toPercentEncoding(text));
}

QString eventId(const QString &key)
{
    return QStringLiteral("urn:uuid:") + QUuid::createUuidV5(kEventNamespace, key).toString(QUuid::WithoutBraces);
}

qint64 write(database::Connection &db, const Options &o, QIODevice &out)
{
    Writer w(out, o);
    // A record before version 10 has no GS1 fields: its packs are named by their texts.
    const bool gs1 = plantschema::installedVersion(db) >= plantschema::kGs1Version;
    const auto fields = [gs1](const char *table) {
        return gs1 ? QStringLiteral("%1.gtin, %1.serial, %1.lot, %1.expiry").arg(QLatin1String(table))
                   : QStringLiteral("NULL::text, NULL::text, NULL::text, NULL::text");
    };
    const QDateTime now = QDateTime::currentDateTime();
    // The CBV's master data attributes (a GS1 box's lot and expiry) by their prefix.
    w.put(QByteArrayLiteral("{\"@context\":[\"https://ref.gs1.org/standards/epcis/epcis-context.jsonld\"")
          + (gs1 ? QByteArrayLiteral(",{\"cbvmda\":\"urn:epcglobal:cbv:mda:\"}") : QByteArray())
          + QByteArrayLiteral("],\"type\":\"EPCISDocument\",\"schemaVersion\":\"2.0\",\"creationDate\":\"")
          + (now.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz")) + offsetText(now.offsetFromUtc())).toUtf8()
          + QByteArrayLiteral("\",\"epcisBody\":{\"eventList\":["));
    const QStringList range{QString::number(o.from.toMSecsSinceEpoch() / 1000.0, 'f', 3), QString::number(o.to.toMSecsSinceEpoch() / 1000.0, 'f', 3),
                            o.station.isNull() ? QStringLiteral("") : o.station};
    // One view of the record for the whole document.
    db.runScript(QStringLiteral("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY"));
    try {
        writePackedBoxes(db, w, range, fields("r"));
        writeChanges(db, w, range, fields("c"), gs1);
        db.runScript(QStringLiteral("COMMIT"));
    } catch (const RuntimeError &) {
        database::rollBackAfterFailure(db);
        throw;
    }
    w.put(QByteArrayLiteral("\n]}}\n"));
    return w.events();
}

} // namespace epcis
