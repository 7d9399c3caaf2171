-- Version 3: the line's board. Supervisors record decisions on conflicts through
-- a role of their own, the only role besides the stations' that may write; and each
-- box carries its number of packs, so that a day's output is summed from the boxes
-- alone (boxes recorded before this version leave it empty and are counted row by row).

DO $$
BEGIN
    IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'zantrel_supervisor') THEN
        CREATE ROLE zantrel_supervisor NOLOGIN;
    END IF;
END
$$;
GRANT USAGE ON SCHEMA zantrel TO zantrel_supervisor;
GRANT SELECT ON zantrel.boxes, zantrel.pack_conflicts, zantrel.conflict_decisions, zantrel.conflicts
    TO zantrel_supervisor;
GRANT INSERT ON zantrel.conflict_decisions TO zantrel_supervisor;
GRANT USAGE ON SEQUENCE zantrel.conflict_decisions_decision_id_seq TO zantrel_supervisor;

ALTER TABLE zantrel.boxes ADD COLUMN pack_count integer CHECK (pack_count >= 0);

-- A day of every station, read from the index alone.
CREATE INDEX boxes_written ON zantrel.boxes (written_at) INCLUDE (station, pack_count);
-- The few boxes recorded before boxes carried their pack count.
CREATE INDEX boxes_uncounted ON zantrel.boxes (written_at) WHERE pack_count IS NULL;
-- The open conflicts, without reading the settled ones.
CREATE INDEX conflict_decisions_conflict ON zantrel.conflict_decisions (box_id, barcode, earlier_box);
