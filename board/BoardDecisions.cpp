#include "board/BoardDecisions.h"

#include "core/Characters.h"
#include "platform/Database.h"
#include "plant/PlantSchema.h"

#include <QStringList>
#include <QUuid>

namespace board {

namespace {

bool isUuid(const QString &s)
{
    return !QUuid::fromString(s).isNull();
}

bool isDecisionId(const QString &s)
{
    bool ok = false;
    return s.size() <= 18 && s.toLongLong(&ok) > 0 && ok;
}

} // namespace

bool isWhole(const Decision &d)
{
    const QString by = d.decidedBy.trimmed();
    const QString reason = d.reason.trimmed();
    return !by.isEmpty() && !reason.isEmpty() && characters::count(by) <= kLongestName && characters::count(reason) <= kLongestReason
           && !characters::holdsNul(by) && !characters::holdsNul(reason) && !characters::holdsNul(d.barcode) && isUuid(d.secondBoxId)
           && isUuid(d.firstBoxId) && (d.keepIn == d.secondBoxId || d.keepIn == d.firstBoxId) && !d.barcode.isEmpty()
           && (d.corrects.isEmpty() || isDecisionId(d.corrects));
}

DecisionResult recordDecision(database::Connection &c, const Decision &d)
{
    const QStringList conflict{d.secondBoxId, d.barcode, d.firstBoxId};
    // The login, not the reader's role it acts in now, must be a supervisor.
    const auto allowed = c.run(QStringLiteral("SELECT pg_has_role(session_user, 'zantrel_supervisor', 'MEMBER')"));
    if (allowed.empty() || !database::isTrue(allowed[0][0]))
        return DecisionResult::NotAllowed;
    // Asked as the login: the supervisor's role reads no schema version.
    const bool signable = plantschema::installedVersion(c) >= plantschema::kOperatorVersion;
    c.runScript(QStringLiteral("BEGIN; SET LOCAL ROLE zantrel_supervisor"));
    // Two supervisors deciding on one conflict at once: the second waits here, then
    // finds the first one's decision as the last and is told so.
    c.run(QStringLiteral("SELECT pg_advisory_xact_lock(hashtext($1 || $2 || $3))"), conflict);
    // The decision is recorded only where the conflict's last decision is the one it
    // corrects (none for a first decision); a correction is a record of its own.
    const auto inserted = c.run(
        QStringLiteral("INSERT INTO zantrel.conflict_decisions (box_id, barcode, earlier_box, keep_in, decided_by, reason%1)"
                       " SELECT box_id, barcode, earlier_box, $4::uuid, $5, $6%2 FROM zantrel.pack_conflicts p"
                       " WHERE p.box_id = $1::uuid AND p.barcode = $2 AND p.earlier_box = $3::uuid"
                       "   AND coalesce((SELECT x.decision_id::text FROM zantrel.conflict_decisions x"
                       "                 WHERE x.box_id = p.box_id AND x.barcode = p.barcode AND x.earlier_box = p.earlier_box"
                       "                 ORDER BY x.decided_at DESC, x.decision_id DESC LIMIT 1), '') = coalesce($7, '')"
                       " RETURNING decision_id")
            .arg(signable ? QStringLiteral(", signed_by") : QString(), signable ? QStringLiteral(", nullif($8, '')") : QString()),
        conflict + QStringList{d.keepIn, d.decidedBy.trimmed(), d.reason.trimmed(), d.corrects}
            + (signable ? QStringList{d.signedBy.isNull() ? QStringLiteral("") : d.signedBy} : QStringList()));
    DecisionResult result = DecisionResult::Recorded;
    if (inserted.empty()) {
        const auto exists = c.run(QStringLiteral("SELECT 1 FROM zantrel.pack_conflicts"
                                                 " WHERE box_id = $1::uuid AND barcode = $2 AND earlier_box = $3::uuid"),
                                  conflict);
        result = exists.empty() ? DecisionResult::NoSuchConflict : DecisionResult::AlreadySettled;
    }
    c.runScript(QStringLiteral("COMMIT"));
    return result;
}

} // namespace board
