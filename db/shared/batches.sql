-- Batches (work orders) and their states, in a plant's record and in a company's database
-- alike (whose tables the plants' feed fills): applied by both migrations. A batch number
-- is the plant's own: unique within its plant. Change it here only.

CREATE TABLE zantrel.batches (
    plant_id    uuid NOT NULL,
    batch       text NOT NULL CHECK (batch ~ '^[^[:space:][:cntrl:]]{1,40}$'),
    line        text NOT NULL CHECK (line ~ '^[^[:space:][:cntrl:]]{1,40}$'),
    gtin        text CHECK (gtin ~ '^[0-9]{14}$'),      -- (01); none where packs are not GS1 packs
    lot         text CHECK (lot <> '' AND length(lot) <= 20), -- (10)
    expiry      text CHECK (expiry ~ '^[0-9]{6}$'),     -- (17), YYMMDD
    made        text CHECK (made ~ '^[0-9]{6}$'),       -- (11), YYMMDD
    planned     integer NOT NULL CHECK (planned > 0),   -- packs
    per_middle  smallint CHECK (per_middle > 0),
    per_outer   smallint CHECK (per_outer > 0),
    added_by    text NOT NULL CHECK (added_by <> '' AND length(added_by) <= 100),
    added_login name NOT NULL,
    added_at    timestamptz NOT NULL,
    PRIMARY KEY (plant_id, batch),
    CHECK ((per_middle IS NULL) = (per_outer IS NULL))
);
CREATE INDEX batches_line ON zantrel.batches (line, batch);

-- Every change of a batch's state, a row of its own: the change asked for, the state it
-- left and the one it reached, who and why; the record's clock and login.
CREATE TABLE zantrel.batch_states (
    plant_id      uuid NOT NULL,
    state_id      bigint NOT NULL,
    batch         text NOT NULL,
    change        text NOT NULL CHECK (change IN ('add', 'start', 'hold', 'resume', 'close', 'abort')),
    from_state    text CHECK (from_state IN ('released', 'running', 'held', 'ended', 'aborted')),
    to_state      text NOT NULL CHECK (to_state IN ('released', 'running', 'held', 'ended', 'aborted')),
    person        text NOT NULL CHECK (person <> '' AND length(person) <= 100),
    reason        text NOT NULL DEFAULT '' CHECK (length(reason) <= 1000),
    changed_login name NOT NULL,
    changed_at    timestamptz NOT NULL,
    PRIMARY KEY (plant_id, state_id)
);
CREATE INDEX batch_states_batch ON zantrel.batch_states (batch, state_id);

-- Every box knows the batch it was packed for (none without one), and whether the
-- record received it after its batch had ended (kept all the same).
ALTER TABLE zantrel.boxes
    ADD COLUMN batch text,
    ADD COLUMN after_batch_end boolean;
CREATE INDEX boxes_batch ON zantrel.boxes (batch, written_at) INCLUDE (plant_id, station, pack_count) WHERE batch IS NOT NULL;

-- What a station packs for now.
ALTER TABLE zantrel.station_state ADD COLUMN batch text;

-- A batch's state now: that of its last change.
CREATE OR REPLACE FUNCTION zantrel.batch_state(plant uuid, b text) RETURNS text LANGUAGE sql STABLE AS $$
    SELECT s.to_state FROM zantrel.batch_states s
    WHERE s.batch = b AND s.plant_id = plant ORDER BY s.state_id DESC LIMIT 1
$$;

-- Packs in the batch's boxes now, after rework: what its boxes were packed with, and for a
-- box that changed since, where packs_now stands, counted from its changes alone: a void
-- box holds none; a pack whose last change there put it in is in it, one whose last change
-- took it out is not, and a pack without changes there is where it was packed. Boxes
-- change seldom: the rest is summed from an index. The plan, generic in the batch, costs
-- far above JIT's threshold while it runs in milliseconds: it is never compiled.
CREATE OR REPLACE FUNCTION zantrel.batch_packed(plant uuid, b text) RETURNS bigint LANGUAGE sql STABLE SET jit = off AS $$
    SELECT (SELECT coalesce(sum(bx.pack_count), 0) FROM zantrel.boxes bx WHERE bx.batch = b AND bx.plant_id = plant)
         + (SELECT coalesce(sum(CASE WHEN bx.pack_count IS NULL THEN (SELECT count(*) FROM zantrel.packs_now n WHERE n.box_id = bx.box_id)
                                     WHEN zantrel.box_voided(bx.box_id) THEN -bx.pack_count
                                     ELSE (SELECT coalesce(sum(CASE WHEN last.kind = 'put-in' AND NOT last.packed THEN 1
                                                                    WHEN last.kind = 'take-out' AND last.packed THEN -1 ELSE 0 END), 0)
                                           FROM (SELECT DISTINCT ON (k.key) k.kind,
                                                        EXISTS (SELECT FROM zantrel.box_rows r
                                                                WHERE r.box_id = bx.box_id AND r.kind = zantrel.pack_row()
                                                                  AND zantrel.pack_key(r.text, r.gtin, r.serial) = k.key) AS packed
                                                 FROM (SELECT zantrel.pack_key(c.barcode, c.gtin, c.serial) AS key, c.kind, c.change_id
                                                       FROM zantrel.box_changes c
                                                       WHERE c.box_id = bx.box_id AND c.barcode IS NOT NULL) k
                                                 ORDER BY k.key, k.change_id DESC) last) END), 0)
            FROM zantrel.boxes bx
            WHERE bx.batch = b AND bx.plant_id = plant
              AND (bx.pack_count IS NULL OR EXISTS (SELECT FROM zantrel.box_changes c WHERE c.box_id = bx.box_id)))::bigint
$$;

-- Every batch with its state, its count against plan and the stations packing it now.
CREATE OR REPLACE VIEW zantrel.batch_overview AS
SELECT b.plant_id, b.batch, b.line, zantrel.batch_state(b.plant_id, b.batch) AS state, b.planned,
       zantrel.batch_packed(b.plant_id, b.batch) AS packed, b.gtin, b.lot, b.expiry, b.made, b.per_middle, b.per_outer,
       b.added_at,
       (SELECT coalesce(string_agg(s.station, ',' ORDER BY s.station), '') FROM zantrel.station_state s
        WHERE s.batch = b.batch AND s.plant_id = b.plant_id) AS stations
FROM zantrel.batches b;
