-- The plant-wide check of a GS1 pack asks which boxes ever held its GTIN and serial,
-- then whether each holds it now: both answered from the index alone, without reading
-- a row of the record's largest table (a random read a check could not afford once the
-- record outgrew the server's memory). Applied by a plant's migration and a company's.
DROP INDEX zantrel.box_rows_gs1;
CREATE INDEX box_rows_gs1 ON zantrel.box_rows (gtin, serial) INCLUDE (box_id) WHERE kind = 2 AND gtin IS NOT NULL;
