-- Version 3: the GS1 fields of the plants' record version 10. Applied before the plants
-- take up their version 10: a subscription stops when a plant publishes a column this
-- database lacks, while columns that no plant publishes yet only stay empty.

ALTER TABLE zantrel.box_rows
    ADD COLUMN gtin text,
    ADD COLUMN serial text,
    ADD COLUMN lot text,
    ADD COLUMN expiry text;
CREATE INDEX box_rows_gs1 ON zantrel.box_rows (gtin, serial) WHERE kind = 2 AND gtin IS NOT NULL;
CREATE INDEX box_rows_lot ON zantrel.box_rows (gtin, lot) INCLUDE (box_id, middle_label) WHERE kind = 2 AND gtin IS NOT NULL;

ALTER TABLE zantrel.box_changes
    ADD COLUMN gtin text,
    ADD COLUMN serial text,
    ADD COLUMN lot text,
    ADD COLUMN expiry text;
CREATE INDEX box_changes_gs1 ON zantrel.box_changes (gtin, serial) WHERE gtin IS NOT NULL;

ALTER TABLE zantrel.station_state
    ADD COLUMN product text,
    ADD COLUMN lot text;

\ir ../shared/packs_by_identity.sql

GRANT SELECT ON ALL TABLES IN SCHEMA zantrel TO zantrel_reader;

INSERT INTO zantrel.schema_version (version, name) VALUES (10, 'company 003_gs1_packs.sql');
