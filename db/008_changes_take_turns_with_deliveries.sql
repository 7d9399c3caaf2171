-- Version 8: a change to a recorded box takes turns with the stations' deliveries, and
-- never puts a pack in two boxes.
--  - A change of a pack takes the lock a station's delivery takes for each of its box's
--    packs (held to the delivery's commit): a put-in beside a delivery of the same
--    pack that has not yet committed waits for it, then sees it.
--  - A restore takes the locks of every pack the box would hold again, and is refused
--    whole when one of them is in another box now, naming the pack and that box.
--  - A change may name a decision only when it carries that decision out: the same
--    pack, and one of the decision's two boxes.
-- Nothing is stored differently; only the function that checks a change is replaced.

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
              FROM (SELECT r.text AS barcode FROM zantrel.box_rows r WHERE r.box_id = NEW.box_id AND r.kind = 2
                    UNION
                    SELECT c.barcode FROM zantrel.box_changes c WHERE c.box_id = NEW.box_id AND c.kind = 'put-in') p
              ORDER BY 1) s;
    END IF;
    IF NEW.decision_id IS NOT NULL
       AND NOT EXISTS (SELECT FROM zantrel.conflict_decisions d
                       WHERE d.decision_id = NEW.decision_id AND d.barcode = NEW.barcode
                         AND NEW.box_id IN (d.box_id, d.earlier_box)) THEN
        RAISE EXCEPTION 'zantrel: the change does not carry out decision %', NEW.decision_id USING ERRCODE = 'check_violation';
    END IF;
    IF NEW.kind = 'take-out' AND NOT zantrel.pack_in_box(NEW.box_id, NEW.barcode) THEN
        RAISE EXCEPTION 'zantrel: pack % is not in this box now', NEW.barcode USING ERRCODE = 'check_violation';
    ELSIF NEW.kind = 'put-in' AND zantrel.box_voided(NEW.box_id) THEN
        RAISE EXCEPTION 'zantrel: the box is void' USING ERRCODE = 'check_violation';
    ELSIF NEW.kind = 'put-in' AND EXISTS (SELECT FROM zantrel.packs_now n WHERE n.barcode = NEW.barcode) THEN
        RAISE EXCEPTION 'zantrel: pack % is in a box now; take it out first', NEW.barcode USING ERRCODE = 'check_violation';
    ELSIF NEW.kind = 'void' AND zantrel.box_voided(NEW.box_id) THEN
        RAISE EXCEPTION 'zantrel: the box is void already' USING ERRCODE = 'check_violation';
    ELSIF NEW.kind = 'restore' AND NOT zantrel.box_voided(NEW.box_id) THEN
        RAISE EXCEPTION 'zantrel: the box is not void' USING ERRCODE = 'check_violation';
    ELSIF NEW.kind = 'restore' THEN
        -- The packs the box holds again: packed and never changed since, or whose last
        -- change there put them in. Where packs are now is asked pack by pack.
        SELECT w.barcode, b.outer_label, b.station INTO elsewhere
        FROM (SELECT r.text AS barcode FROM zantrel.box_rows r WHERE r.box_id = NEW.box_id AND r.kind = 2
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
                elsewhere.barcode, elsewhere.outer_label, elsewhere.station USING ERRCODE = 'check_violation';
        END IF;
    END IF;
    RETURN NEW;
END
$$;
