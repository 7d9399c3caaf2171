-- Version 12: a pack with a GTIN and no serial is known by its text, as the station knows
-- it (the key was NULL, and such packs matched nothing). Nothing stored changes.

\ir shared/packs_by_identity.sql
