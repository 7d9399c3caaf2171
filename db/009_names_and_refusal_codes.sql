-- Version 9: the record says by name what its numbers mean, and each of its own
-- refusals has a code of its own, so that programs decide on the code, never on the
-- words. Nothing is stored differently.
--  - A box's row kinds by name (zantrel.pack_row() …), and the views of where packs are
--    from the one definition a company's database shares (shared/where_packs_are.sql).
--  - The refusals, class ZR (a class of this project's, outside SQL's standard ones):
--    listed in zantrel.refusals, and in the programs' header plant/RecordRefusals.h.

CREATE TABLE zantrel.refusals (
    sqlstate text PRIMARY KEY CHECK (sqlstate ~ '^ZR[0-9A-Z]{3}$'),
    meaning  text NOT NULL
);
INSERT INTO zantrel.refusals (sqlstate, meaning) VALUES
    ('ZR001', 'a recorded box, row, conflict, decision or change is never updated or deleted'),
    ('ZR002', 'a change names a decision it does not carry out'),
    ('ZR003', 'take-out: the pack is not in that box now'),
    ('ZR004', 'put-in: the box is void'),
    ('ZR005', 'put-in: the pack is in a box now'),
    ('ZR006', 'void: the box is void already'),
    ('ZR007', 'restore: the box is not void'),
    ('ZR008', 'restore: a pack of the box is in another box now (detail: json with pack, box, station)');
GRANT SELECT ON zantrel.refusals TO zantrel_station, zantrel_reader, zantrel_supervisor, zantrel_rework;

CREATE OR REPLACE FUNCTION zantrel.refuse_change() RETURNS trigger LANGUAGE plpgsql AS $$
BEGIN
    RAISE EXCEPTION 'a recorded box is never changed (%)', TG_TABLE_NAME USING ERRCODE = 'ZR001';
END
$$;

-- A plant's record names a station by its name alone, and has no plant name.
CREATE FUNCTION zantrel.station_named(plant uuid, station text) RETURNS text LANGUAGE sql IMMUTABLE PARALLEL SAFE RETURN station;
CREATE FUNCTION zantrel.plant_named(plant uuid) RETURNS text LANGUAGE sql IMMUTABLE PARALLEL SAFE RETURN NULL::text;

\ir shared/where_packs_are.sql

-- A station records a conflict for a pack another box holds now (also one put in).
ALTER POLICY pack_conflicts_add ON zantrel.pack_conflicts
    WITH CHECK (zantrel.own_box(box_id)
                AND EXISTS (SELECT FROM zantrel.box_rows r
                            WHERE r.box_id = pack_conflicts.box_id AND r.kind = zantrel.pack_row() AND r.text = barcode)
                AND zantrel.pack_in_box(earlier_box, barcode));

CREATE OR REPLACE FUNCTION zantrel.change_as_recorded() RETURNS trigger LANGUAGE plpgsql AS $$
DECLARE
    elsewhere record;
BEGIN
    NEW.changed_at := now();
    NEW.changed_login := session_user;
    PERFORM pg_advisory_xact_lock(74657206);
    -- The deliveries' locks of the packs concerned, in the order every delivery takes them.
    IF NEW.barcode IS NOT NULL THEN
        PERFORM pg_advisory_xact_lock(hashtextextended(NEW.barcode, 7401));
    ELSIF NEW.kind = 'restore' THEN
        PERFORM pg_advisory_xact_lock(s.h)
        FROM (SELECT DISTINCT hashtextextended(p.barcode, 7401) AS h
              FROM (SELECT r.text AS barcode FROM zantrel.box_rows r WHERE r.box_id = NEW.box_id AND r.kind = zantrel.pack_row()
                    UNION
                    SELECT c.barcode FROM zantrel.box_changes c WHERE c.box_id = NEW.box_id AND c.kind = 'put-in') p
              ORDER BY 1) s;
    END IF;
    IF NEW.decision_id IS NOT NULL
       AND NOT EXISTS (SELECT FROM zantrel.conflict_decisions d
                       WHERE d.decision_id = NEW.decision_id AND d.barcode = NEW.barcode
                         AND NEW.box_id IN (d.box_id, d.earlier_box)) THEN
        RAISE EXCEPTION 'zantrel: the change does not carry out decision %', NEW.decision_id USING ERRCODE = 'ZR002';
    END IF;
    IF NEW.kind = 'take-out' AND NOT zantrel.pack_in_box(NEW.box_id, NEW.barcode) THEN
        RAISE EXCEPTION 'zantrel: pack % is not in this box now', NEW.barcode USING ERRCODE = 'ZR003';
    ELSIF NEW.kind = 'put-in' AND zantrel.box_voided(NEW.box_id) THEN
        RAISE EXCEPTION 'zantrel: the box is void' USING ERRCODE = 'ZR004';
    ELSIF NEW.kind = 'put-in' AND EXISTS (SELECT FROM zantrel.packs_now n WHERE n.barcode = NEW.barcode) THEN
        RAISE EXCEPTION 'zantrel: pack % is in a box now; take it out first', NEW.barcode USING ERRCODE = 'ZR005';
    ELSIF NEW.kind = 'void' AND zantrel.box_voided(NEW.box_id) THEN
        RAISE EXCEPTION 'zantrel: the box is void already' USING ERRCODE = 'ZR006';
    ELSIF NEW.kind = 'restore' AND NOT zantrel.box_voided(NEW.box_id) THEN
        RAISE EXCEPTION 'zantrel: the box is not void' USING ERRCODE = 'ZR007';
    ELSIF NEW.kind = 'restore' THEN
        -- The packs the box holds again: packed and never changed since, or whose last
        -- change there put them in. Where packs are now is asked pack by pack.
        SELECT w.barcode, b.outer_label, b.station INTO elsewhere
        FROM (SELECT r.text AS barcode FROM zantrel.box_rows r WHERE r.box_id = NEW.box_id AND r.kind = zantrel.pack_row()
              UNION
              SELECT c.barcode FROM zantrel.box_changes c WHERE c.box_id = NEW.box_id AND c.kind = 'put-in') w
        CROSS JOIN LATERAL (SELECT n.box_id FROM zantrel.packs_now n
                            WHERE n.barcode = w.barcode AND n.box_id <> NEW.box_id OFFSET 0) o
        JOIN zantrel.boxes b ON b.box_id = o.box_id
        WHERE coalesce((SELECT c.kind = 'put-in' FROM zantrel.box_changes c
                        WHERE c.box_id = NEW.box_id AND c.barcode = w.barcode ORDER BY c.change_id DESC LIMIT 1), true)
        ORDER BY w.barcode
        LIMIT 1;
        IF FOUND THEN
            RAISE EXCEPTION 'zantrel: restore refused: pack % is in box % of station % now',
                elsewhere.barcode, elsewhere.outer_label, elsewhere.station USING ERRCODE = 'ZR008',
                DETAIL = json_build_object('pack', elsewhere.barcode, 'box', elsewhere.outer_label, 'station', elsewhere.station)::text;
        END IF;
    END IF;
    RETURN NEW;
END
$$;
