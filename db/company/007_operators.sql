-- Version 7: the operators of the plants' record version 15 and every change of them,
-- without their password verifiers, which stay in each plant. Applied before the plants
-- take up their version 15 (see 003).

\ir ../shared/operators.sql

GRANT SELECT ON ALL TABLES IN SCHEMA zantrel TO zantrel_reader;

INSERT INTO zantrel.schema_version (version, name) VALUES (15, 'company 007_operators.sql');
