-- Version 2: where packs are, a box's story and the conflicts come from the definition
-- the plants' records use (their version 9), no longer from a copy of it. A station is
-- named with its plant ("plant / station").

CREATE FUNCTION zantrel.station_named(plant uuid, station text) RETURNS text LANGUAGE sql STABLE PARALLEL SAFE
    RETURN zantrel.plant_name(plant) || ' / ' || station;
CREATE FUNCTION zantrel.plant_named(plant uuid) RETURNS text LANGUAGE sql STABLE PARALLEL SAFE
    RETURN zantrel.plant_name(plant);

\ir ../shared/where_packs_are.sql

GRANT SELECT ON ALL TABLES IN SCHEMA zantrel TO zantrel_reader;

-- Readers of a plant's record read this one alike: it holds the record's shape of version 9.
INSERT INTO zantrel.schema_version (version, name) VALUES (9, 'company 002_views_from_the_plants.sql');
