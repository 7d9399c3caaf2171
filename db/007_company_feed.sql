-- Version 7: a plant's record can feed a company's. The record gets an id of its own,
-- made once here, and every row whose key is only unique within the plant (station
-- names, decision and change numbers) carries it; boxes carry it too, so that a
-- company database knows each box's plant. Box ids are random UUIDs made by the
-- stations and stay unique across plants. A publication offers the record's tables
-- to a company database's subscription (zantrel-db company add-plant); it sends
-- nothing until one subscribes.
--
-- The id is each column's constant default: PostgreSQL records it once for the rows
-- already there, without rewriting them, however many there are.

CREATE TABLE zantrel.plant (
    plant_id uuid PRIMARY KEY,
    only_one boolean NOT NULL DEFAULT true UNIQUE CHECK (only_one)
);
INSERT INTO zantrel.plant (plant_id) VALUES (gen_random_uuid());
GRANT SELECT ON zantrel.plant TO zantrel_station, zantrel_reader, zantrel_supervisor, zantrel_rework;
CREATE TRIGGER plant_never_changes BEFORE UPDATE OR DELETE ON zantrel.plant
    FOR EACH ROW EXECUTE FUNCTION zantrel.refuse_change();

DO $$
DECLARE
    id uuid := (SELECT plant_id FROM zantrel.plant);
    t text;
BEGIN
    FOREACH t IN ARRAY ARRAY['boxes', 'stations', 'station_state', 'conflict_decisions', 'box_changes'] LOOP
        EXECUTE format('ALTER TABLE zantrel.%I ADD COLUMN plant_id uuid NOT NULL DEFAULT %L', t, id);
    END LOOP;
END
$$;

-- The rows a subscriber updates are found by their plant as well as their station.
CREATE UNIQUE INDEX stations_plant ON zantrel.stations (plant_id, station);
ALTER TABLE zantrel.stations REPLICA IDENTITY USING INDEX stations_plant;
CREATE UNIQUE INDEX station_state_plant ON zantrel.station_state (plant_id, station);
ALTER TABLE zantrel.station_state REPLICA IDENTITY USING INDEX station_state_plant;

-- Where a pack is now, with its box's id: a box's packs are then found from the box.
CREATE OR REPLACE VIEW zantrel.pack_locations AS
SELECT n.barcode, b.station, b.outer_label, n.middle_label, b.workbook,
       b.first_row + n.row_index AS sheet_row, b.written_at, n.box_id
FROM zantrel.packs_now n
JOIN zantrel.boxes b USING (box_id);

DO $$
BEGIN
    IF NOT EXISTS (SELECT FROM pg_publication WHERE pubname = 'zantrel_record') THEN
        CREATE PUBLICATION zantrel_record FOR TABLE zantrel.boxes, zantrel.box_rows, zantrel.pack_conflicts,
            zantrel.conflict_decisions, zantrel.box_changes, zantrel.stations, zantrel.station_state;
    END IF;
END
$$;
