-- Version 3: the GS1 fields of the plants' record version 10. Applied before the plants
-- take up their version 10: a subscription stops when a plant publishes a column this
-- database lacks, while columns that no plant publishes yet only stay empty.

\ir ../shared/gs1_fields.sql
CREATE INDEX boxes_lots_written ON zantrel.boxes (written_at) INCLUDE (plant_id, station, gtin, lot, pack_count) WHERE gtin IS NOT NULL;
\ir ../shared/packs_by_identity.sql

GRANT SELECT ON ALL TABLES IN SCHEMA zantrel TO zantrel_reader;

INSERT INTO zantrel.schema_version (version, name) VALUES (10, 'company 003_gs1_packs.sql');
