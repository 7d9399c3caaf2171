-- Version 4: a box is known by where its station wrote it (station, workbook, first
-- row) as well as by its id, so that a box reaching the record by two routes (its
-- outbox, and the station bringing the record level with its workbooks) is stored
-- once.
CREATE UNIQUE INDEX boxes_place ON zantrel.boxes (station, workbook, first_row);

-- Any barcode and label a station can list is stored. A btree entry has a size limit
-- that a long barcode or label exceeds; the lookups ask only for equality, which an
-- index of their hashes answers at the same speed.
DROP INDEX zantrel.box_rows_barcode;
CREATE INDEX box_rows_barcode ON zantrel.box_rows USING hash (text) WHERE kind = 2;
DROP INDEX zantrel.boxes_outer_label;
CREATE INDEX boxes_outer_label ON zantrel.boxes USING hash (outer_label);

-- The boxes the record refused a station, as the station names them.
ALTER TABLE zantrel.station_state ADD COLUMN refused text NOT NULL DEFAULT '';

-- How far the station's clock is from the server's, in seconds (positive: ahead), as
-- it measured at its last report. The record's own order never depends on it.
ALTER TABLE zantrel.station_state ADD COLUMN clock_skew integer;
