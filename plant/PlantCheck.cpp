#include "plant/PlantCheck.h"

#include "plant/PlantSchema.h"

#include "core/RuntimeError.h"
#include "core/Worker.h"
#include "platform/Database.h"
#include "plant/RowKinds.h"

#include <mutex>

struct PlantCheck::Shared
{
    Shared(QString u, int seconds) : url(std::move(u)), answerSeconds(seconds) {}

    const QString url;
    const int answerSeconds;
    mutable Worker worker; // its lock guards the rest
    database::Interrupt interrupt;
    uint64_t asked = 0;    // the newest question's ticket
    QString barcode;       // its pack's text
    QString gtin, serial;  // and GS1 identity, when it has one
    uint64_t answered = 0; // the ticket of `last`
    Answer last;
    bool inTime = true; // until a question says otherwise
};

PlantCheck::PlantCheck(QString url, int answerSeconds)
    : m_shared(std::make_shared<Shared>(std::move(url), answerSeconds))
{
    m_shared->worker.start([shared = m_shared.get()] { run(*shared); });
}

PlantCheck::~PlantCheck()
{
    // The question in flight is given up at once: no scan waits for it any more.
    m_shared->worker.stop([this] { m_shared->interrupt.raise(); });
}

uint64_t PlantCheck::ask(const Pack &pack)
{
    const std::lock_guard<std::mutex> hold(m_shared->worker.lock());
    m_shared->barcode = pack.text();
    m_shared->gtin = pack.value(QStringLiteral("01")).value_or(QString());
    m_shared->serial = pack.value(QStringLiteral("21")).value_or(QString());
    m_shared->worker.wake();
    return ++m_shared->asked;
}

std::optional<PlantCheck::Answer> PlantCheck::answer(uint64_t ticket) const
{
    const std::lock_guard<std::mutex> hold(m_shared->worker.lock());
    if (m_shared->answered != ticket)
        return std::nullopt;
    return m_shared->last;
}

bool PlantCheck::answeredInTime() const
{
    const std::lock_guard<std::mutex> hold(m_shared->worker.lock());
    return m_shared->inTime;
}

void PlantCheck::noteInTime(bool inTime)
{
    const std::lock_guard<std::mutex> hold(m_shared->worker.lock());
    m_shared->inTime = inTime;
}

namespace {

// From the version with changes, a pack taken out of its box (or in a void box) is
// free, and one put into a box is taken. The boxes that ever held the pack are found
// by index, then asked whether they hold it now: a scan's question is planned in a
// fraction of the time the general view takes.
const QString kByText = QStringLiteral(
    "SELECT b.station, b.outer_label, to_char(b.written_at, 'YYYY-MM-DD HH24:MI:SS')"
    " FROM (SELECT r.box_id FROM zantrel.box_rows r WHERE r.kind = {pack} AND r.text = $1"
    "       UNION ALL SELECT c.box_id FROM zantrel.box_changes c WHERE c.barcode = $1 AND c.kind = 'put-in') k"
    " JOIN zantrel.boxes b USING (box_id)"
    " WHERE zantrel.pack_in_box(k.box_id, $1) ORDER BY b.recorded_at LIMIT 1");
// Before that version a pack stays where it was packed.
const QString kByTextAsPacked = QStringLiteral(
    "SELECT b.station, b.outer_label, to_char(b.written_at, 'YYYY-MM-DD HH24:MI:SS')"
    " FROM zantrel.box_rows r JOIN zantrel.boxes b USING (box_id)"
    " WHERE r.kind = {pack} AND r.text = $1 ORDER BY b.recorded_at LIMIT 1");
// A GS1 pack, by its GTIN and serial, from the version that stores them.
const QString kByIdentity = QStringLiteral(
    "SELECT b.station, b.outer_label, to_char(b.written_at, 'YYYY-MM-DD HH24:MI:SS')"
    " FROM (SELECT r.box_id FROM zantrel.box_rows r WHERE r.kind = {pack} AND r.gtin = $1 AND r.serial = $2"
    "       UNION ALL SELECT c.box_id FROM zantrel.box_changes c WHERE c.gtin = $1 AND c.serial = $2 AND c.kind = 'put-in') k"
    " JOIN zantrel.boxes b USING (box_id)"
    " WHERE zantrel.pack_in_box(k.box_id, NULL, $1, $2) ORDER BY b.recorded_at LIMIT 1");

} // namespace

void PlantCheck::run(Shared &shared)
{
    std::unique_ptr<database::Connection> db;
    bool followsChanges = false;
    bool knowsGs1 = false;
    uint64_t done = 0;
    std::unique_lock<std::mutex> hold(shared.worker.lock());
    for (;;) {
        shared.worker.wait(hold, [&] { return shared.asked != done; });
        if (shared.worker.stopping())
            return;
        const uint64_t ticket = shared.asked;
        const QString barcode = shared.barcode, gtin = shared.gtin, serial = shared.serial;
        hold.unlock();
        Answer answer;
        try {
            if (!db) {
                db = database::connect(shared.url, shared.answerSeconds, shared.answerSeconds, &shared.interrupt);
                const int version = plantschema::installedVersion(*db);
                followsChanges = version >= plantschema::kReworkVersion;
                knowsGs1 = version >= plantschema::kGs1Version;
            }
            // A GS1 pack is asked by its GTIN and serial: the same pack in any spelling.
            const bool byIdentity = knowsGs1 && !gtin.isEmpty() && !serial.isEmpty();
            const auto rows = db->run(rowkind::named(byIdentity ? kByIdentity : followsChanges ? kByText : kByTextAsPacked),
                                      byIdentity ? QStringList{gtin, serial} : QStringList{barcode});
            answer.reached = true;
            if (!rows.empty())
                answer.found = Where{rows[0][0].value_or(QString()), rows[0][1].value_or(QString()), rows[0][2].value_or(QString())};
        } catch (const RuntimeError &) {
            // Unreachable or failed: the scan is checked locally; connect afresh next time.
            db.reset();
        }
        hold.lock();
        done = ticket;
        shared.answered = ticket;
        shared.last = answer;
    }
}
