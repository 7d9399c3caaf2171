-- Version 1 of the plant record: every box the stations write, the packs in them,
-- and what each station last said of itself. Applied by zantrel-db in one
-- transaction, which also records the version.

CREATE TABLE zantrel.boxes (
    box_id      uuid PRIMARY KEY,            -- made by the station when the box entered its outbox
    station     text NOT NULL,
    outer_label text NOT NULL,
    workbook    text NOT NULL,               -- the file name in the station's files folder
    first_row   integer NOT NULL,            -- sheet row (from 1) of the box's first row
    row_count   integer NOT NULL,
    written_at  timestamptz NOT NULL,        -- when the station wrote it to its workbook
    recorded_at timestamptz NOT NULL DEFAULT now()
);
CREATE INDEX boxes_station_written ON zantrel.boxes (station, written_at);
CREATE INDEX boxes_outer_label ON zantrel.boxes (outer_label);

-- One row per inner pack; the labels of a box's other rows are in box_rows.
CREATE TABLE zantrel.box_rows (
    box_id       uuid NOT NULL REFERENCES zantrel.boxes,
    row_index    integer NOT NULL,           -- from 0, in the box's order
    kind         smallint NOT NULL CHECK (kind IN (0, 1, 2)), -- outer label, middle label, pack
    text         text NOT NULL,
    middle_label text,                       -- for a pack: the middle box it is under
    PRIMARY KEY (box_id, row_index)
);
CREATE INDEX box_rows_barcode ON zantrel.box_rows (text) WHERE kind = 2;

CREATE TABLE zantrel.station_state (
    station   text PRIMARY KEY,
    heard_at  timestamptz NOT NULL,
    backlog   integer NOT NULL,              -- boxes waiting in its outbox
    packing   text NOT NULL                  -- the outer label it is packing, or ''
);

-- The stable interface for other systems: one row per inner pack of every box.
CREATE VIEW zantrel.pack_locations AS
SELECT r.text AS barcode, b.station, b.outer_label, r.middle_label, b.workbook,
       b.first_row + r.row_index AS sheet_row, b.written_at
FROM zantrel.box_rows r
JOIN zantrel.boxes b USING (box_id)
WHERE r.kind = 2;

-- A recorded box never changes: not even its owner may update or delete it.
CREATE FUNCTION zantrel.refuse_change() RETURNS trigger LANGUAGE plpgsql AS $$
BEGIN
    RAISE EXCEPTION 'a recorded box is never changed (%)', TG_TABLE_NAME;
END
$$;
CREATE TRIGGER boxes_never_change BEFORE UPDATE OR DELETE ON zantrel.boxes
    FOR EACH ROW EXECUTE FUNCTION zantrel.refuse_change();
CREATE TRIGGER box_rows_never_change BEFORE UPDATE OR DELETE ON zantrel.box_rows
    FOR EACH ROW EXECUTE FUNCTION zantrel.refuse_change();

-- Group roles; logins are given by the DBA (README).
DO $$
BEGIN
    IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'zantrel_station') THEN
        CREATE ROLE zantrel_station NOLOGIN;
    END IF;
    IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'zantrel_reader') THEN
        CREATE ROLE zantrel_reader NOLOGIN;
    END IF;
END
$$;
GRANT USAGE ON SCHEMA zantrel TO zantrel_station, zantrel_reader;
GRANT SELECT ON ALL TABLES IN SCHEMA zantrel TO zantrel_station, zantrel_reader;
GRANT INSERT ON zantrel.boxes, zantrel.box_rows TO zantrel_station;
GRANT INSERT, UPDATE ON zantrel.station_state TO zantrel_station;
