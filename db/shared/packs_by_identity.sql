-- A GS1 pack is the same pack however it was spelled: known by its GTIN and serial.
-- A pack without them (every pack of a station that does not read GS1) is known by
-- its text, as always. Applied by a plant's migration and by a company's alike, after
-- where_packs_are.sql: change it here only.

-- The key two records of one pack share: as the station keys a pack, by its GTIN and
-- serial when it has both, else by its text.
CREATE OR REPLACE FUNCTION zantrel.pack_key(pack text, pack_gtin text, pack_serial text) RETURNS text
    LANGUAGE sql IMMUTABLE PARALLEL SAFE
    RETURN CASE WHEN pack_gtin IS NULL OR pack_serial IS NULL THEN pack ELSE pack_gtin || E'\n' || pack_serial END;

-- Whether the box holds the pack now (its GTIN and serial, or without them its text).
CREATE OR REPLACE FUNCTION zantrel.pack_in_box(box uuid, pack text, pack_gtin text, pack_serial text) RETURNS boolean
    LANGUAGE sql STABLE AS $$
    SELECT CASE WHEN pack_gtin IS NULL THEN zantrel.pack_in_box(box, pack) ELSE
        NOT zantrel.box_voided(box)
        AND coalesce((SELECT c.kind = 'put-in' FROM zantrel.box_changes c
                      WHERE c.box_id = box AND c.gtin = pack_gtin AND c.serial = pack_serial
                      ORDER BY c.change_id DESC LIMIT 1),
                     EXISTS (SELECT FROM zantrel.box_rows r
                             WHERE r.box_id = box AND r.kind = zantrel.pack_row() AND r.gtin = pack_gtin AND r.serial = pack_serial))
    END
$$;

-- Every pack where it is now, with its GS1 fields (a pack put in carries its GTIN and
-- serial, lot and expiry as it was packed).
CREATE OR REPLACE VIEW zantrel.packs_now AS
SELECT r.box_id, r.text AS barcode, r.middle_label, r.row_index, r.gtin, r.serial, r.lot, r.expiry
FROM zantrel.box_rows r
WHERE r.kind = zantrel.pack_row() AND zantrel.pack_in_box(r.box_id, r.text, r.gtin, r.serial)
UNION ALL
SELECT c.box_id, c.barcode, c.middle_label, NULL::integer, c.gtin, c.serial, c.lot, c.expiry
FROM zantrel.box_changes c
WHERE c.kind = 'put-in'
  AND NOT EXISTS (SELECT FROM zantrel.box_rows r
                  WHERE r.box_id = c.box_id AND r.kind = zantrel.pack_row()
                    AND zantrel.pack_key(r.text, r.gtin, r.serial) = zantrel.pack_key(c.barcode, c.gtin, c.serial))
  AND c.change_id = (SELECT max(x.change_id) FROM zantrel.box_changes x
                     WHERE x.box_id = c.box_id
                       AND zantrel.pack_key(x.barcode, x.gtin, x.serial) = zantrel.pack_key(c.barcode, c.gtin, c.serial))
  AND NOT zantrel.box_voided(c.box_id);

-- The stable interface keeps its columns; the GS1 fields come last.
CREATE OR REPLACE VIEW zantrel.pack_locations AS
SELECT n.barcode, zantrel.station_named(b.plant_id, b.station) AS station, b.outer_label, n.middle_label, b.workbook,
       b.first_row + n.row_index AS sheet_row, b.written_at, n.box_id, zantrel.plant_named(b.plant_id) AS plant,
       n.gtin, n.serial, n.lot, n.expiry
FROM zantrel.packs_now n
JOIN zantrel.boxes b USING (box_id);
