-- Version 5: the pack key of the plants' record version 12 (a pack with a GTIN and no
-- serial is known by its text).

\ir ../shared/packs_by_identity.sql

INSERT INTO zantrel.schema_version (version, name) VALUES (12, 'company 005_pack_key_as_the_station_keys.sql');
