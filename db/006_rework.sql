-- Version 6: the record follows the box. A pack taken out of a recorded box, a pack
-- put into one, a whole box voided (and restored) are changes recorded on their own:
-- who (the login, and the name a person typed), why (a reason from a short list, and
-- free text), when. Recorded boxes and rows never change, and changes never change
-- either: a mistaken change is undone by another. Where a pack is now follows from
-- the boxes and their changes (packs_now, pack_locations); its whole story is in
-- pack_history. A decision on a conflict takes the pack out of the box it was not
-- kept in, as a change of the same kind.

DO $$
BEGIN
    IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'zantrel_rework') THEN
        CREATE ROLE zantrel_rework NOLOGIN;
    END IF;
END
$$;
GRANT USAGE ON SCHEMA zantrel TO zantrel_rework;

CREATE TABLE zantrel.box_changes (
    change_id     bigserial PRIMARY KEY,
    kind          text NOT NULL CHECK (kind IN ('take-out', 'put-in', 'void', 'restore')),
    box_id        uuid NOT NULL REFERENCES zantrel.boxes,
    barcode       text,                    -- the pack; none for a void or a restore
    middle_label  text,                    -- a put-in: the middle box it goes into, if one is named
    person        text NOT NULL CHECK (person <> '' AND length(person) <= 100),
    reason        text NOT NULL CHECK (reason IN ('抽样', '损坏更换', '重新装箱', '重复包裁定', '其他')),
    note          text NOT NULL DEFAULT '' CHECK (length(note) <= 1000),
    decision_id   bigint REFERENCES zantrel.conflict_decisions, -- the decision it carries out
    changed_login name NOT NULL DEFAULT session_user,
    changed_at    timestamptz NOT NULL DEFAULT now(),
    CHECK ((kind IN ('take-out', 'put-in')) = (barcode IS NOT NULL))
);
CREATE INDEX box_changes_box ON zantrel.box_changes (box_id, change_id);
CREATE INDEX box_changes_barcode ON zantrel.box_changes USING hash (barcode) WHERE barcode IS NOT NULL;
CREATE INDEX box_changes_time ON zantrel.box_changes (changed_at);
CREATE TRIGGER box_changes_never_change BEFORE UPDATE OR DELETE ON zantrel.box_changes
    FOR EACH ROW EXECUTE FUNCTION zantrel.refuse_change();

-- A box is void after a void that no restore followed.
CREATE FUNCTION zantrel.box_voided(box uuid) RETURNS boolean LANGUAGE sql STABLE AS $$
    SELECT coalesce((SELECT c.kind = 'void' FROM zantrel.box_changes c
                     WHERE c.box_id = box AND c.barcode IS NULL ORDER BY c.change_id DESC LIMIT 1), false)
$$;

-- A pack is in a box now when its last change there put it in, or, without one, when
-- the box was packed with it; never in a void box.
CREATE FUNCTION zantrel.pack_in_box(box uuid, pack text) RETURNS boolean LANGUAGE sql STABLE AS $$
    SELECT NOT zantrel.box_voided(box)
           AND coalesce((SELECT c.kind = 'put-in' FROM zantrel.box_changes c
                         WHERE c.box_id = box AND c.barcode = pack ORDER BY c.change_id DESC LIMIT 1),
                        EXISTS (SELECT FROM zantrel.box_rows r WHERE r.box_id = box AND r.kind = 2 AND r.text = pack))
$$;

-- Every pack where it is now: packed and still there, or put in since.
CREATE VIEW zantrel.packs_now AS
SELECT r.box_id, r.text AS barcode, r.middle_label, r.row_index
FROM zantrel.box_rows r
WHERE r.kind = 2 AND zantrel.pack_in_box(r.box_id, r.text)
UNION ALL
SELECT c.box_id, c.barcode, c.middle_label, NULL::integer
FROM zantrel.box_changes c
WHERE c.kind = 'put-in'
  AND NOT EXISTS (SELECT FROM zantrel.box_rows r WHERE r.box_id = c.box_id AND r.kind = 2 AND r.text = c.barcode)
  AND c.change_id = (SELECT max(x.change_id) FROM zantrel.box_changes x WHERE x.box_id = c.box_id AND x.barcode = c.barcode)
  AND NOT zantrel.box_voided(c.box_id);

-- The stable interface keeps its columns; a pack put in has no sheet row.
CREATE OR REPLACE VIEW zantrel.pack_locations AS
SELECT n.barcode, b.station, b.outer_label, n.middle_label, b.workbook,
       b.first_row + n.row_index AS sheet_row, b.written_at
FROM zantrel.packs_now n
JOIN zantrel.boxes b USING (box_id);

-- Every pack's and every box's story in order: packed, then each change.
CREATE VIEW zantrel.pack_history AS
SELECT b.box_id, b.station, b.outer_label, r.text AS barcode, r.middle_label, 'packed'::text AS event,
       b.written_at AS at, NULL::bigint AS change_id, NULL::text AS person, NULL::text AS reason,
       NULL::text AS note, NULL::name AS login
FROM zantrel.box_rows r
JOIN zantrel.boxes b USING (box_id)
WHERE r.kind = 2
UNION ALL
SELECT b.box_id, b.station, b.outer_label, c.barcode, c.middle_label, c.kind, c.changed_at, c.change_id,
       c.person, c.reason, c.note, c.changed_login
FROM zantrel.box_changes c
JOIN zantrel.boxes b USING (box_id);

-- A change takes its time and login from the server, and must make sense where the
-- pack and the box stand now. Changes are made by people, seldom: they take turns
-- plant-wide, under one lock however many rows a transaction adds.
CREATE FUNCTION zantrel.change_as_recorded() RETURNS trigger LANGUAGE plpgsql AS $$
BEGIN
    NEW.changed_at := now();
    NEW.changed_login := session_user;
    PERFORM pg_advisory_xact_lock(74657206);
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
    END IF;
    RETURN NEW;
END
$$;
CREATE TRIGGER box_changes_as_recorded BEFORE INSERT ON zantrel.box_changes
    FOR EACH ROW EXECUTE FUNCTION zantrel.change_as_recorded();

-- A decision on a conflict: the pack leaves the box it is not kept in and is in the
-- one it is kept in (put back there when an earlier decision had taken it out). Run
-- by its owner, for the supervisor's insert and for the migration below; nobody else
-- may call it.
CREATE FUNCTION zantrel.carry_out(d zantrel.conflict_decisions) RETURNS void LANGUAGE plpgsql SECURITY DEFINER
    SET search_path = pg_catalog, zantrel AS $$
DECLARE
    other uuid := CASE WHEN d.keep_in = d.box_id THEN d.earlier_box ELSE d.box_id END;
BEGIN
    IF zantrel.pack_in_box(other, d.barcode) THEN
        INSERT INTO zantrel.box_changes (kind, box_id, barcode, person, reason, note, decision_id)
        VALUES ('take-out', other, d.barcode, d.decided_by, '重复包裁定', left(d.reason, 1000), d.decision_id);
    END IF;
    IF NOT zantrel.pack_in_box(d.keep_in, d.barcode) AND NOT zantrel.box_voided(d.keep_in)
       AND NOT EXISTS (SELECT FROM zantrel.packs_now n WHERE n.barcode = d.barcode) THEN
        INSERT INTO zantrel.box_changes (kind, box_id, barcode, person, reason, note, decision_id)
        VALUES ('put-in', d.keep_in, d.barcode, d.decided_by, '重复包裁定', left(d.reason, 1000), d.decision_id);
    END IF;
END
$$;
REVOKE EXECUTE ON FUNCTION zantrel.carry_out(zantrel.conflict_decisions) FROM PUBLIC;

CREATE FUNCTION zantrel.decision_carried_out() RETURNS trigger LANGUAGE plpgsql SECURITY DEFINER
    SET search_path = pg_catalog, zantrel AS $$
BEGIN
    PERFORM zantrel.carry_out(NEW);
    RETURN NULL;
END
$$;
CREATE TRIGGER conflict_decisions_carried_out AFTER INSERT ON zantrel.conflict_decisions
    FOR EACH ROW EXECUTE FUNCTION zantrel.decision_carried_out();

-- Decisions recorded before this version are carried out now, the last one of each conflict.
SELECT zantrel.carry_out(d)
FROM zantrel.conflict_decisions d
WHERE d.decision_id = (SELECT x.decision_id FROM zantrel.conflict_decisions x
                       WHERE x.box_id = d.box_id AND x.barcode = d.barcode AND x.earlier_box = d.earlier_box
                       ORDER BY x.decided_at DESC, x.decision_id DESC LIMIT 1)
ORDER BY d.decision_id;

-- A station records a conflict for a pack another box holds now (also one put in).
DROP POLICY pack_conflicts_add ON zantrel.pack_conflicts;
CREATE POLICY pack_conflicts_add ON zantrel.pack_conflicts FOR INSERT TO zantrel_station
    WITH CHECK (zantrel.own_box(box_id)
                AND EXISTS (SELECT FROM zantrel.box_rows r WHERE r.box_id = pack_conflicts.box_id AND r.kind = 2 AND r.text = barcode)
                AND zantrel.pack_in_box(earlier_box, barcode));

GRANT SELECT ON zantrel.box_changes, zantrel.packs_now, zantrel.pack_history
    TO zantrel_station, zantrel_reader, zantrel_supervisor, zantrel_rework;
GRANT SELECT ON ALL TABLES IN SCHEMA zantrel TO zantrel_rework;
GRANT INSERT ON zantrel.box_changes TO zantrel_rework;
GRANT USAGE ON SEQUENCE zantrel.box_changes_change_id_seq TO zantrel_rework;
