-- Version 6: the batches of the plants' record version 14, their states and every box's
-- batch. Applied before the plants take up their version 14 (see 003).

\ir ../shared/batches.sql

GRANT SELECT ON ALL TABLES IN SCHEMA zantrel TO zantrel_reader;

INSERT INTO zantrel.schema_version (version, name) VALUES (14, 'company 006_batches.sql');
