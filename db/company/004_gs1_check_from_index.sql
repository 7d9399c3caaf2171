-- Version 4: the plants' record version 11 (the index of the check by GTIN and serial,
-- which a company's lookups and recalls use too). No column changes: the feed goes on.

\ir ../shared/gs1_check_from_index.sql

INSERT INTO zantrel.schema_version (version, name) VALUES (11, 'company 004_gs1_check_from_index.sql');
