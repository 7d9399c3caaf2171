-- Version 2: a pack found in two boxes. Stations that check the whole plant for
-- repeats record, with the box that arrived second, each of its packs that an
-- earlier box already holds: both boxes stay recorded as they were written, and a
-- person decides where the pack belongs. A decision is a record of its own.

CREATE TABLE zantrel.pack_conflicts (
    barcode     text NOT NULL,
    box_id      uuid NOT NULL REFERENCES zantrel.boxes,  -- the box that arrived second
    earlier_box uuid NOT NULL REFERENCES zantrel.boxes,  -- a box that held the pack before it
    found_at    timestamptz NOT NULL DEFAULT now(),
    PRIMARY KEY (box_id, barcode, earlier_box)
);

CREATE TABLE zantrel.conflict_decisions (
    decision_id bigserial PRIMARY KEY,
    box_id      uuid NOT NULL,
    barcode     text NOT NULL,
    earlier_box uuid NOT NULL,
    keep_in     uuid NOT NULL,                -- the box the pack stays in
    decided_by  text NOT NULL CHECK (decided_by <> ''),
    reason      text NOT NULL CHECK (reason <> ''),
    decided_at  timestamptz NOT NULL DEFAULT now(),
    FOREIGN KEY (box_id, barcode, earlier_box) REFERENCES zantrel.pack_conflicts,
    CHECK (keep_in IN (box_id, earlier_box))
);

CREATE TRIGGER pack_conflicts_never_change BEFORE UPDATE OR DELETE ON zantrel.pack_conflicts
    FOR EACH ROW EXECUTE FUNCTION zantrel.refuse_change();
CREATE TRIGGER conflict_decisions_never_change BEFORE UPDATE OR DELETE ON zantrel.conflict_decisions
    FOR EACH ROW EXECUTE FUNCTION zantrel.refuse_change();

-- Every conflict with both boxes and stations, and the last decision on it, if any.
CREATE VIEW zantrel.conflicts AS
SELECT c.barcode,
       e.station AS first_station, e.outer_label AS first_box, e.written_at AS first_written,
       l.station AS second_station, l.outer_label AS second_box, l.written_at AS second_written,
       c.found_at, c.box_id AS second_box_id, c.earlier_box AS first_box_id,
       d.keep_in, d.decided_by, d.reason, d.decided_at,
       d.decision_id IS NOT NULL AS settled
FROM zantrel.pack_conflicts c
JOIN zantrel.boxes e ON e.box_id = c.earlier_box
JOIN zantrel.boxes l ON l.box_id = c.box_id
LEFT JOIN LATERAL (
    SELECT * FROM zantrel.conflict_decisions x
    WHERE x.box_id = c.box_id AND x.barcode = c.barcode AND x.earlier_box = c.earlier_box
    ORDER BY x.decided_at DESC, x.decision_id DESC LIMIT 1
) d ON true;

GRANT SELECT ON zantrel.pack_conflicts, zantrel.conflict_decisions, zantrel.conflicts
    TO zantrel_station, zantrel_reader;
GRANT INSERT ON zantrel.pack_conflicts TO zantrel_station;
