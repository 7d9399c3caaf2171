-- Version 4: the indexes of the plants' record version 11, which a company's lookups and
-- recalls use too. No column changes: the feed goes on.

\ir ../shared/gs1_reads_by_index.sql

INSERT INTO zantrel.schema_version (version, name) VALUES (11, 'company 004_gs1_reads_by_index.sql');
