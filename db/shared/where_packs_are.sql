-- Where packs are now, a box's story and the conflicts: one definition for a plant's
-- record and for a company's database, each of which first says how it names a
-- station (zantrel.station_named) and a plant (zantrel.plant_named).
-- Applied by a plant's migration and by a company's alike: change it here only.

-- What a row of a box is, by name; the numbers are those the stations send (integer,
-- as the literal the partial indexes of box_rows were made with).
CREATE OR REPLACE FUNCTION zantrel.outer_label_row() RETURNS integer LANGUAGE sql IMMUTABLE PARALLEL SAFE RETURN 0;
CREATE OR REPLACE FUNCTION zantrel.middle_label_row() RETURNS integer LANGUAGE sql IMMUTABLE PARALLEL SAFE RETURN 1;
CREATE OR REPLACE FUNCTION zantrel.pack_row() RETURNS integer LANGUAGE sql IMMUTABLE PARALLEL SAFE RETURN 2;

-- A box is void after a void that no restore followed.
CREATE OR REPLACE FUNCTION zantrel.box_voided(box uuid) RETURNS boolean LANGUAGE sql STABLE AS $$
    SELECT coalesce((SELECT c.kind = 'void' FROM zantrel.box_changes c
                     WHERE c.box_id = box AND c.barcode IS NULL ORDER BY c.change_id DESC LIMIT 1), false)
$$;

-- A pack is in a box now when its last change there put it in, or, without one, when
-- the box was packed with it; never in a void box.
CREATE OR REPLACE FUNCTION zantrel.pack_in_box(box uuid, pack text) RETURNS boolean LANGUAGE sql STABLE AS $$
    SELECT NOT zantrel.box_voided(box)
           AND coalesce((SELECT c.kind = 'put-in' FROM zantrel.box_changes c
                         WHERE c.box_id = box AND c.barcode = pack ORDER BY c.change_id DESC LIMIT 1),
                        EXISTS (SELECT FROM zantrel.box_rows r
                                WHERE r.box_id = box AND r.kind = zantrel.pack_row() AND r.text = pack))
$$;

-- Every pack where it is now: packed and still there, or put in since.
CREATE OR REPLACE VIEW zantrel.packs_now AS
SELECT r.box_id, r.text AS barcode, r.middle_label, r.row_index
FROM zantrel.box_rows r
WHERE r.kind = zantrel.pack_row() AND zantrel.pack_in_box(r.box_id, r.text)
UNION ALL
SELECT c.box_id, c.barcode, c.middle_label, NULL::integer
FROM zantrel.box_changes c
WHERE c.kind = 'put-in'
  AND NOT EXISTS (SELECT FROM zantrel.box_rows r WHERE r.box_id = c.box_id AND r.kind = zantrel.pack_row() AND r.text = c.barcode)
  AND c.change_id = (SELECT max(x.change_id) FROM zantrel.box_changes x WHERE x.box_id = c.box_id AND x.barcode = c.barcode)
  AND NOT zantrel.box_voided(c.box_id);

-- The stable interface keeps its columns (a pack put in has no sheet row); the box's
-- id and its plant come last.
CREATE OR REPLACE VIEW zantrel.pack_locations AS
SELECT n.barcode, zantrel.station_named(b.plant_id, b.station) AS station, b.outer_label, n.middle_label, b.workbook,
       b.first_row + n.row_index AS sheet_row, b.written_at, n.box_id, zantrel.plant_named(b.plant_id) AS plant
FROM zantrel.packs_now n
JOIN zantrel.boxes b USING (box_id);

-- Every pack's and every box's story in order: packed, then each change.
CREATE OR REPLACE VIEW zantrel.pack_history AS
SELECT b.box_id, zantrel.station_named(b.plant_id, b.station) AS station, b.outer_label, r.text AS barcode, r.middle_label,
       'packed'::text AS event, b.written_at AS at, NULL::bigint AS change_id, NULL::text AS person, NULL::text AS reason,
       NULL::text AS note, NULL::name AS login
FROM zantrel.box_rows r
JOIN zantrel.boxes b USING (box_id)
WHERE r.kind = zantrel.pack_row()
UNION ALL
SELECT b.box_id, zantrel.station_named(b.plant_id, b.station), b.outer_label, c.barcode, c.middle_label, c.kind,
       c.changed_at, c.change_id, c.person, c.reason, c.note, c.changed_login
FROM zantrel.box_changes c
JOIN zantrel.boxes b USING (box_id);

-- Every conflict with both boxes and stations, and the last decision on it, if any.
CREATE OR REPLACE VIEW zantrel.conflicts AS
SELECT c.barcode,
       zantrel.station_named(e.plant_id, e.station) AS first_station, e.outer_label AS first_box, e.written_at AS first_written,
       zantrel.station_named(l.plant_id, l.station) AS second_station, l.outer_label AS second_box, l.written_at AS second_written,
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
