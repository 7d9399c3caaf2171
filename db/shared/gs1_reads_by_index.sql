-- What a GS1 plant asks most, answered without random reads in the record's largest
-- tables (which outgrow the server's memory in a year). Applied by a plant's migration
-- and a company's alike: change it here only.

-- The plant-wide check asks which boxes ever held a GTIN and serial, then whether each
-- holds it now: both from this index alone.
DROP INDEX zantrel.box_rows_gs1;
CREATE INDEX box_rows_gs1 ON zantrel.box_rows (gtin, serial) INCLUDE (box_id) WHERE kind = 2 AND gtin IS NOT NULL;

-- A recall finds a lot's boxes by their first pack's product and lot, a few pages beside
-- each other, instead of one random read per box; a box holding the lot's packs
-- otherwise (put in by rework) is still read by its id.
CREATE INDEX boxes_lot ON zantrel.boxes (gtin, lot) WHERE gtin IS NOT NULL;
