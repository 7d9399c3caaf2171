-- Version 4: a box is known by where its station wrote it (station, workbook, first
-- row) as well as by its id, so that a box reaching the record by two routes (its
-- outbox, and the station bringing the record level with its workbooks) is stored
-- once.
CREATE UNIQUE INDEX boxes_place ON zantrel.boxes (station, workbook, first_row);
