-- Version 11: the check by GTIN and serial reads the boxes that held a pack from the
-- index alone. Nothing stored changes; the index is built again (on a large record,
-- minutes in which deliveries wait and stations keep their boxes in their outboxes).

\ir shared/gs1_check_from_index.sql
