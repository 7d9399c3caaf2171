-- Version 13: a put-in holds to the station's rules. Into a GS1 box only a GS1 pack with
-- its GTIN and serial (ZR009), of the box's product and lot (ZR010); into a middle box of
-- that outer box, or one the change names as new (the setting zantrel.new_middle, for its
-- transaction: SET LOCAL) (ZR011). Nothing stored changes.

INSERT INTO zantrel.refusals (sqlstate, meaning) VALUES
    ('ZR009', 'put-in: a GS1 box takes a GS1 pack with its GTIN and serial'),
    ('ZR010', 'put-in: the pack is of another product or lot than the GS1 box'),
    ('ZR011', 'put-in: the middle box is no middle box of that outer box (nor named as new)');

CREATE OR REPLACE FUNCTION zantrel.change_as_recorded() RETURNS trigger LANGUAGE plpgsql AS $$
DECLARE
    elsewhere record;
    box record;
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
    SELECT b.gtin, b.lot, b.outer_label INTO box FROM zantrel.boxes b WHERE b.box_id = NEW.box_id;
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
    ELSIF NEW.kind = 'put-in' AND box.gtin IS NOT NULL AND (NEW.gtin IS NULL OR NEW.serial IS NULL) THEN
        RAISE EXCEPTION 'zantrel: a GS1 box takes a GS1 pack with its GTIN and serial, not %', NEW.barcode USING ERRCODE = 'ZR009';
    ELSIF NEW.kind = 'put-in' AND box.gtin IS NOT NULL AND (NEW.gtin <> box.gtin OR NEW.lot IS DISTINCT FROM box.lot) THEN
        RAISE EXCEPTION 'zantrel: pack % is of another product or lot than box %', NEW.barcode, box.outer_label USING ERRCODE = 'ZR010',
            DETAIL = json_build_object('gtin', box.gtin, 'lot', box.lot)::text;
    ELSIF NEW.kind = 'put-in' AND NEW.middle_label IS NOT NULL
          AND coalesce(current_setting('zantrel.new_middle', true), '') <> NEW.middle_label
          AND NOT EXISTS (SELECT FROM zantrel.box_rows r
                          WHERE r.box_id = NEW.box_id AND r.kind = zantrel.middle_label_row() AND r.text = NEW.middle_label)
          AND NOT EXISTS (SELECT FROM zantrel.box_changes c
                          WHERE c.box_id = NEW.box_id AND c.kind = 'put-in' AND c.middle_label = NEW.middle_label) THEN
        RAISE EXCEPTION 'zantrel: % is no middle box of box %', NEW.middle_label, box.outer_label USING ERRCODE = 'ZR011';
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
