-- Version 11: the check by GTIN and serial and a recall read their answers from indexes
-- (shared/gs1_reads_by_index.sql). Nothing stored changes; on a large record the indexes
-- take minutes to build, in which deliveries wait and stations keep boxes in their outboxes.

\ir shared/gs1_reads_by_index.sql
