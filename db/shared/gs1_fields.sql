-- The GS1 fields of a pack, in a plant's record and in a company's database alike
-- (whose tables the plants' feed fills): applied by both migrations, before
-- packs_by_identity.sql. Change it here only.

ALTER TABLE zantrel.box_rows
    ADD COLUMN gtin text,   -- (01), 14 digits
    ADD COLUMN serial text, -- (21)
    ADD COLUMN lot text,    -- (10)
    ADD COLUMN expiry text; -- (17), YYMMDD as scanned
-- The plant-wide check by GTIN and serial; the recall by GTIN and lot (its boxes and
-- middle boxes read from the index alone).
CREATE INDEX box_rows_gs1 ON zantrel.box_rows (gtin, serial) WHERE kind = 2 AND gtin IS NOT NULL;
CREATE INDEX box_rows_lot ON zantrel.box_rows (gtin, lot) INCLUDE (box_id, middle_label) WHERE kind = 2 AND gtin IS NOT NULL;

-- A pack taken out or put in carries the same fields (given by the record itself).
ALTER TABLE zantrel.box_changes
    ADD COLUMN gtin text,
    ADD COLUMN serial text,
    ADD COLUMN lot text,
    ADD COLUMN expiry text;
CREATE INDEX box_changes_gs1 ON zantrel.box_changes (gtin, serial) WHERE gtin IS NOT NULL;

-- A box of GS1 packs holds one product and lot, those of its first pack: the board counts
-- a day's packs by lot from the boxes alone.
ALTER TABLE zantrel.boxes
    ADD COLUMN gtin text,
    ADD COLUMN lot text;

-- What a station packs now: the product and lot of its open box's first GS1 pack.
ALTER TABLE zantrel.station_state
    ADD COLUMN product text,
    ADD COLUMN lot text;
