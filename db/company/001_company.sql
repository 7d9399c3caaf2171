-- A company's database: the records of several plants, each received from its plant
-- by PostgreSQL's logical replication (a subscription per plant to its publication
-- zantrel_record). The tables have the plant tables' names and columns, for that is
-- how rows find their table; keys that are only unique within a plant include the
-- plant's id. Nothing here is written except by the subscriptions and by zantrel-db
-- company add-plant. Views name a station with its plant ("plant / station").

DO $$
BEGIN
    IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'zantrel_reader') THEN
        CREATE ROLE zantrel_reader NOLOGIN;
    END IF;
END
$$;

CREATE TABLE zantrel.plants (
    plant_id     uuid PRIMARY KEY,          -- the plant record's own id (its table zantrel.plant)
    name         text NOT NULL UNIQUE CHECK (name <> ''),
    subscription name NOT NULL UNIQUE,
    added_at     timestamptz NOT NULL DEFAULT now()
);

CREATE TABLE zantrel.boxes (
    box_id      uuid PRIMARY KEY,
    station     text NOT NULL,
    outer_label text NOT NULL,
    workbook    text NOT NULL,
    first_row   integer NOT NULL,
    row_count   integer NOT NULL,
    written_at  timestamptz NOT NULL,
    recorded_at timestamptz NOT NULL,
    pack_count  integer,
    plant_id    uuid NOT NULL
);
CREATE INDEX boxes_station_written ON zantrel.boxes (plant_id, station, written_at);
CREATE INDEX boxes_written ON zantrel.boxes (written_at) INCLUDE (plant_id, station, pack_count);
CREATE INDEX boxes_uncounted ON zantrel.boxes (written_at) WHERE pack_count IS NULL;
CREATE INDEX boxes_outer_label ON zantrel.boxes USING hash (outer_label);

CREATE TABLE zantrel.box_rows (
    box_id       uuid NOT NULL,
    row_index    integer NOT NULL,
    kind         smallint NOT NULL,
    text         text NOT NULL,
    middle_label text,
    PRIMARY KEY (box_id, row_index)
);
CREATE INDEX box_rows_barcode ON zantrel.box_rows USING hash (text) WHERE kind = 2;

CREATE TABLE zantrel.stations (
    plant_id uuid NOT NULL,
    station  text NOT NULL,
    login    name NOT NULL,
    PRIMARY KEY (plant_id, station)
);

CREATE TABLE zantrel.station_state (
    plant_id   uuid NOT NULL,
    station    text NOT NULL,
    heard_at   timestamptz NOT NULL,
    backlog    integer NOT NULL,
    packing    text NOT NULL,
    refused    text NOT NULL DEFAULT '',
    clock_skew integer,
    PRIMARY KEY (plant_id, station)
);

CREATE TABLE zantrel.pack_conflicts (
    barcode     text NOT NULL,
    box_id      uuid NOT NULL,
    earlier_box uuid NOT NULL,
    found_at    timestamptz NOT NULL,
    PRIMARY KEY (box_id, barcode, earlier_box)
);

CREATE TABLE zantrel.conflict_decisions (
    plant_id      uuid NOT NULL,
    decision_id   bigint NOT NULL,
    box_id        uuid NOT NULL,
    barcode       text NOT NULL,
    earlier_box   uuid NOT NULL,
    keep_in       uuid NOT NULL,
    decided_by    text NOT NULL,
    reason        text NOT NULL,
    decided_at    timestamptz NOT NULL,
    decided_login name,
    PRIMARY KEY (plant_id, decision_id)
);
CREATE INDEX conflict_decisions_conflict ON zantrel.conflict_decisions (box_id, barcode, earlier_box);

CREATE TABLE zantrel.box_changes (
    plant_id      uuid NOT NULL,
    change_id     bigint NOT NULL,
    kind          text NOT NULL,
    box_id        uuid NOT NULL,
    barcode       text,
    middle_label  text,
    person        text NOT NULL,
    reason        text NOT NULL,
    note          text NOT NULL,
    decision_id   bigint,
    changed_login name NOT NULL,
    changed_at    timestamptz NOT NULL,
    PRIMARY KEY (plant_id, change_id)
);
CREATE INDEX box_changes_box ON zantrel.box_changes (box_id, change_id);
CREATE INDEX box_changes_barcode ON zantrel.box_changes USING hash (barcode) WHERE barcode IS NOT NULL;

-- A plant by name; its id when it was never added (rows arrive only after it is).
CREATE FUNCTION zantrel.plant_name(id uuid) RETURNS text LANGUAGE sql STABLE AS $$
    SELECT coalesce((SELECT p.name FROM zantrel.plants p WHERE p.plant_id = id), id::text)
$$;

-- Where a pack is now: as in a plant's record, whose definitions (its versions 2 and 6)
-- these repeat on purpose, for this database holds no plant migration; a change there
-- is made here too. A box and its changes come from one plant, and box ids are unique
-- across plants.
CREATE FUNCTION zantrel.box_voided(box uuid) RETURNS boolean LANGUAGE sql STABLE AS $$
    SELECT coalesce((SELECT c.kind = 'void' FROM zantrel.box_changes c
                     WHERE c.box_id = box AND c.barcode IS NULL ORDER BY c.change_id DESC LIMIT 1), false)
$$;
CREATE FUNCTION zantrel.pack_in_box(box uuid, pack text) RETURNS boolean LANGUAGE sql STABLE AS $$
    SELECT NOT zantrel.box_voided(box)
           AND coalesce((SELECT c.kind = 'put-in' FROM zantrel.box_changes c
                         WHERE c.box_id = box AND c.barcode = pack ORDER BY c.change_id DESC LIMIT 1),
                        EXISTS (SELECT FROM zantrel.box_rows r WHERE r.box_id = box AND r.kind = 2 AND r.text = pack))
$$;
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

CREATE VIEW zantrel.pack_locations AS
SELECT n.barcode, zantrel.plant_name(b.plant_id) || ' / ' || b.station AS station, b.outer_label, n.middle_label,
       b.workbook, b.first_row + n.row_index AS sheet_row, b.written_at, n.box_id,
       zantrel.plant_name(b.plant_id) AS plant
FROM zantrel.packs_now n
JOIN zantrel.boxes b USING (box_id);

CREATE VIEW zantrel.pack_history AS
SELECT b.box_id, zantrel.plant_name(b.plant_id) || ' / ' || b.station AS station, b.outer_label, r.text AS barcode,
       r.middle_label, 'packed'::text AS event, b.written_at AS at, NULL::bigint AS change_id, NULL::text AS person,
       NULL::text AS reason, NULL::text AS note, NULL::name AS login
FROM zantrel.box_rows r
JOIN zantrel.boxes b USING (box_id)
WHERE r.kind = 2
UNION ALL
SELECT b.box_id, zantrel.plant_name(b.plant_id) || ' / ' || b.station, b.outer_label, c.barcode, c.middle_label, c.kind,
       c.changed_at, c.change_id, c.person, c.reason, c.note, c.changed_login
FROM zantrel.box_changes c
JOIN zantrel.boxes b USING (box_id);

CREATE VIEW zantrel.conflicts AS
SELECT c.barcode,
       zantrel.plant_name(e.plant_id) || ' / ' || e.station AS first_station, e.outer_label AS first_box, e.written_at AS first_written,
       zantrel.plant_name(l.plant_id) || ' / ' || l.station AS second_station, l.outer_label AS second_box, l.written_at AS second_written,
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

GRANT USAGE ON SCHEMA zantrel TO zantrel_reader;
GRANT SELECT ON ALL TABLES IN SCHEMA zantrel TO zantrel_reader;

-- Readers of a plant's record read this one alike: it holds the record's shape of version 7.
INSERT INTO zantrel.schema_version (version, name) VALUES (7, 'company 001_company.sql');
