-- Version 10: a GS1 pack is known by its GTIN and serial, in the record as at the
-- station. Its fields are stored beside its text (a pack of a station that does not
-- read GS1 has none and is known by its text, as before); the plant-wide check, the
-- conflicts, where packs are now and every change by rework compare packs by them.
-- Nothing stored is rewritten: the new columns of earlier rows stay empty.

\ir shared/gs1_fields.sql
CREATE INDEX boxes_lots_written ON zantrel.boxes (written_at) INCLUDE (station, gtin, lot, pack_count) WHERE gtin IS NOT NULL;
-- Checked on a plant's rows from now on; the rows before have none of them.
ALTER TABLE zantrel.box_rows ADD CONSTRAINT box_rows_gs1_fields
    CHECK (gtin IS NULL OR (kind = 2 AND gtin ~ '^[0-9]{14}$' AND serial IS NOT NULL AND serial <> '')) NOT VALID;

\ir shared/packs_by_identity.sql

-- A station records a conflict for a pack another box holds now, however it was spelled there.
ALTER POLICY pack_conflicts_add ON zantrel.pack_conflicts
    WITH CHECK (zantrel.own_box(box_id)
                AND EXISTS (SELECT FROM zantrel.box_rows r
                            WHERE r.box_id = pack_conflicts.box_id AND r.kind = zantrel.pack_row() AND r.text = barcode
                              AND zantrel.pack_in_box(earlier_box, r.text, r.gtin, r.serial)));

CREATE OR REPLACE FUNCTION zantrel.change_as_recorded() RETURNS trigger LANGUAGE plpgsql AS $$
DECLARE
    elsewhere record;
BEGIN
    NEW.changed_at := now();
    NEW.changed_login := session_user;
    -- A GS1 pack taken out or put in by its text carries the fields it was packed with.
    IF NEW.barcode IS NOT NULL AND NEW.gtin IS NULL THEN
        SELECT r.gtin, r.serial, r.lot, r.expiry INTO NEW.gtin, NEW.serial, NEW.lot, NEW.expiry
        FROM zantrel.box_rows r
        WHERE r.kind = zantrel.pack_row() AND r.text = NEW.barcode AND r.gtin IS NOT NULL
        LIMIT 1;
    END IF;
    PERFORM pg_advisory_xact_lock(74657206);
    -- The deliveries' locks of the packs concerned, in the order every delivery takes them.
    IF NEW.barcode IS NOT NULL THEN
        PERFORM pg_advisory_xact_lock(hashtextextended(zantrel.pack_key(NEW.barcode, NEW.gtin, NEW.serial), 7401));
    ELSIF NEW.kind = 'restore' THEN
        PERFORM pg_advisory_xact_lock(s.h)
        FROM (SELECT DISTINCT hashtextextended(p.pack, 7401) AS h
              FROM (SELECT zantrel.pack_key(r.text, r.gtin, r.serial) AS pack FROM zantrel.box_rows r
                    WHERE r.box_id = NEW.box_id AND r.kind = zantrel.pack_row()
                    UNION
                    SELECT zantrel.pack_key(c.barcode, c.gtin, c.serial) FROM zantrel.box_changes c
                    WHERE c.box_id = NEW.box_id AND c.kind = 'put-in') p
              ORDER BY 1) s;
    END IF;
    IF NEW.decision_id IS NOT NULL
       AND NOT EXISTS (SELECT FROM zantrel.conflict_decisions d
                       WHERE d.decision_id = NEW.decision_id AND d.barcode = NEW.barcode
                         AND NEW.box_id IN (d.box_id, d.earlier_box)) THEN
        RAISE EXCEPTION 'zantrel: the change does not carry out decision %', NEW.decision_id USING ERRCODE = 'ZR002';
    END IF;
    IF NEW.kind = 'take-out' AND NOT zantrel.pack_in_box(NEW.box_id, NEW.barcode, NEW.gtin, NEW.serial) THEN
        RAISE EXCEPTION 'zantrel: pack % is not in this box now', NEW.barcode USING ERRCODE = 'ZR003';
    ELSIF NEW.kind = 'put-in' AND zantrel.box_voided(NEW.box_id) THEN
        RAISE EXCEPTION 'zantrel: the box is void' USING ERRCODE = 'ZR004';
    ELSIF NEW.kind = 'put-in' AND EXISTS (SELECT FROM zantrel.packs_now n
                                          WHERE (NEW.gtin IS NULL AND n.barcode = NEW.barcode)
                                             OR (n.gtin = NEW.gtin AND n.serial = NEW.serial)) THEN
        RAISE EXCEPTION 'zantrel: pack % is in a box now; take it out first', NEW.barcode USING ERRCODE = 'ZR005';
    ELSIF NEW.kind = 'void' AND zantrel.box_voided(NEW.box_id) THEN
        RAISE EXCEPTION 'zantrel: the box is void already' USING ERRCODE = 'ZR006';
    ELSIF NEW.kind = 'restore' AND NOT zantrel.box_voided(NEW.box_id) THEN
        RAISE EXCEPTION 'zantrel: the box is not void' USING ERRCODE = 'ZR007';
    ELSIF NEW.kind = 'restore' THEN
        -- The packs the box holds again: packed and never changed since, or whose last
        -- change there put them in. Where packs are now is asked pack by pack.
        SELECT w.barcode, b.outer_label, b.station INTO elsewhere
        FROM (SELECT r.text AS barcode, r.gtin, r.serial FROM zantrel.box_rows r
              WHERE r.box_id = NEW.box_id AND r.kind = zantrel.pack_row()
              UNION
              SELECT c.barcode, c.gtin, c.serial FROM zantrel.box_changes c WHERE c.box_id = NEW.box_id AND c.kind = 'put-in') w
        CROSS JOIN LATERAL (SELECT n.box_id FROM zantrel.packs_now n
                            WHERE ((w.gtin IS NULL AND n.barcode = w.barcode) OR (n.gtin = w.gtin AND n.serial = w.serial))
                              AND n.box_id <> NEW.box_id OFFSET 0) o
        JOIN zantrel.boxes b ON b.box_id = o.box_id
        WHERE coalesce((SELECT c.kind = 'put-in' FROM zantrel.box_changes c
                        WHERE c.box_id = NEW.box_id
                          AND zantrel.pack_key(c.barcode, c.gtin, c.serial) = zantrel.pack_key(w.barcode, w.gtin, w.serial)
                        ORDER BY c.change_id DESC LIMIT 1), true)
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
