-- Version 14: batches. A line packs a batch that planning released (its product, lot and
-- expiry, a planned quantity, its box sizes); a station takes it at Start and every box
-- it writes names it. A batch goes released -> running (its first box) -> held <-> running
-- -> ended, or aborted from any state but ended; every change is a row of its own, by a
-- login in zantrel_planner (the start: by the box that starts it). Nothing of a batch is
-- updated or deleted. A box that reaches the record after its batch ended is kept and
-- flagged. Boxes recorded before have no batch.

DO $$
BEGIN
    IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'zantrel_planner') THEN
        CREATE ROLE zantrel_planner NOLOGIN;
    END IF;
END
$$;
GRANT USAGE ON SCHEMA zantrel TO zantrel_planner;

INSERT INTO zantrel.refusals (sqlstate, meaning) VALUES
    ('ZR012', 'batch: there is no batch of that number'),
    ('ZR013', 'batch: that change is not allowed from the batch''s state now (detail: json with from, change)'),
    ('ZR014', 'batch: close refused while a station has an open box of the batch (detail: json with station, box)'),
    ('ZR015', 'batch: a batch of that number exists already');

\ir shared/batches.sql

DO $$
DECLARE
    id uuid := (SELECT plant_id FROM zantrel.plant);
BEGIN
    EXECUTE format('ALTER TABLE zantrel.batches ALTER COLUMN plant_id SET DEFAULT %L', id);
    EXECUTE format('ALTER TABLE zantrel.batch_states ALTER COLUMN plant_id SET DEFAULT %L', id);
END
$$;
ALTER TABLE zantrel.batch_states ALTER COLUMN state_id ADD GENERATED ALWAYS AS IDENTITY;
ALTER TABLE zantrel.batches ADD CONSTRAINT batches_number UNIQUE (batch);
ALTER TABLE zantrel.batch_states ADD FOREIGN KEY (batch) REFERENCES zantrel.batches (batch);

-- The changes allowed: from a state, by a change, to a state.
CREATE TABLE zantrel.batch_moves (
    from_state text,
    change     text NOT NULL,
    to_state   text NOT NULL,
    UNIQUE (from_state, change)
);
INSERT INTO zantrel.batch_moves (from_state, change, to_state) VALUES
    (NULL, 'add', 'released'),
    ('released', 'start', 'running'),
    ('released', 'abort', 'aborted'),
    ('running', 'hold', 'held'),
    ('running', 'close', 'ended'),
    ('running', 'abort', 'aborted'),
    ('held', 'resume', 'running'),
    ('held', 'abort', 'aborted');

CREATE TRIGGER batches_never_change BEFORE UPDATE OR DELETE ON zantrel.batches
    FOR EACH ROW EXECUTE FUNCTION zantrel.refuse_change();
CREATE TRIGGER batch_states_never_change BEFORE UPDATE OR DELETE ON zantrel.batch_states
    FOR EACH ROW EXECUTE FUNCTION zantrel.refuse_change();
CREATE TRIGGER batch_moves_never_change BEFORE UPDATE OR DELETE ON zantrel.batch_moves
    FOR EACH STATEMENT EXECUTE FUNCTION zantrel.refuse_change();

CREATE FUNCTION zantrel.batch_as_recorded() RETURNS trigger LANGUAGE plpgsql AS $$
BEGIN
    NEW.added_at := now();
    NEW.added_login := session_user;
    IF EXISTS (SELECT FROM zantrel.batches b WHERE b.batch = NEW.batch) THEN
        RAISE EXCEPTION 'zantrel: batch % exists already', NEW.batch USING ERRCODE = 'ZR015';
    END IF;
    RETURN NEW;
END
$$;
CREATE TRIGGER batches_as_recorded BEFORE INSERT ON zantrel.batches
    FOR EACH ROW EXECUTE FUNCTION zantrel.batch_as_recorded();

-- A batch added is released, by whoever added it.
CREATE FUNCTION zantrel.batch_released() RETURNS trigger LANGUAGE plpgsql SECURITY DEFINER
    SET search_path = pg_catalog, zantrel AS $$
BEGIN
    INSERT INTO zantrel.batch_states (batch, change, person) VALUES (NEW.batch, 'add', NEW.added_by);
    RETURN NULL;
END
$$;
CREATE TRIGGER batches_released AFTER INSERT ON zantrel.batches
    FOR EACH ROW EXECUTE FUNCTION zantrel.batch_released();

-- A change of state takes its time and login from the record, its from-state from the
-- batch as it stands (changes of one batch take turns), and must be one of the moves.
-- A close waits for no station: it is refused while one has an open box of the batch.
CREATE FUNCTION zantrel.batch_state_as_recorded() RETURNS trigger LANGUAGE plpgsql AS $$
DECLARE
    open record;
BEGIN
    NEW.changed_at := now();
    NEW.changed_login := session_user;
    PERFORM pg_advisory_xact_lock(hashtextextended(NEW.batch, 7402));
    IF NOT EXISTS (SELECT FROM zantrel.batches b WHERE b.batch = NEW.batch) THEN
        RAISE EXCEPTION 'zantrel: there is no batch %', NEW.batch USING ERRCODE = 'ZR012';
    END IF;
    NEW.from_state := zantrel.batch_state(NEW.plant_id, NEW.batch);
    SELECT m.to_state INTO NEW.to_state FROM zantrel.batch_moves m
    WHERE m.from_state IS NOT DISTINCT FROM NEW.from_state AND m.change = NEW.change;
    IF NOT FOUND THEN
        RAISE EXCEPTION 'zantrel: batch % is %: % is not allowed', NEW.batch, coalesce(NEW.from_state, 'not added'), NEW.change
            USING ERRCODE = 'ZR013', DETAIL = json_build_object('from', NEW.from_state, 'change', NEW.change)::text;
    END IF;
    IF NEW.change = 'close' THEN
        SELECT s.station, s.packing INTO open FROM zantrel.station_state s
        WHERE s.batch = NEW.batch AND s.packing <> '' ORDER BY s.station LIMIT 1;
        IF FOUND THEN
            RAISE EXCEPTION 'zantrel: station % has box % of batch % open', open.station, open.packing, NEW.batch
                USING ERRCODE = 'ZR014', DETAIL = json_build_object('station', open.station, 'box', open.packing)::text;
        END IF;
    END IF;
    RETURN NEW;
END
$$;
CREATE TRIGGER batch_states_as_recorded BEFORE INSERT ON zantrel.batch_states
    FOR EACH ROW EXECUTE FUNCTION zantrel.batch_state_as_recorded();

-- A box of a batch: the batch must exist; received after the batch ended it is kept and
-- flagged; the first box of a released batch starts it, in the name of its station.
CREATE FUNCTION zantrel.box_of_batch() RETURNS trigger LANGUAGE plpgsql SECURITY DEFINER
    SET search_path = pg_catalog, zantrel AS $$
DECLARE
    now_state text;
BEGIN
    now_state := zantrel.batch_state(NEW.plant_id, NEW.batch);
    IF now_state IS NULL THEN
        RAISE EXCEPTION 'zantrel: there is no batch %', NEW.batch USING ERRCODE = 'ZR012';
    END IF;
    IF now_state = 'released' THEN
        PERFORM pg_advisory_xact_lock(hashtextextended(NEW.batch, 7402));
        IF zantrel.batch_state(NEW.plant_id, NEW.batch) = 'released' THEN
            INSERT INTO zantrel.batch_states (batch, change, person, reason)
            VALUES (NEW.batch, 'start', NEW.station, 'box ' || NEW.outer_label);
        END IF;
        now_state := 'running';
    END IF;
    NEW.after_batch_end := now_state IN ('ended', 'aborted');
    RETURN NEW;
END
$$;
CREATE TRIGGER boxes_of_batch BEFORE INSERT ON zantrel.boxes
    FOR EACH ROW WHEN (NEW.batch IS NOT NULL) EXECUTE FUNCTION zantrel.box_of_batch();

-- Planners add batches and change their states; only a box starts one.
ALTER TABLE zantrel.batch_states ENABLE ROW LEVEL SECURITY;
CREATE POLICY batch_states_read ON zantrel.batch_states FOR SELECT USING (true);
CREATE POLICY batch_states_change ON zantrel.batch_states FOR INSERT TO zantrel_planner WITH CHECK (change NOT IN ('add', 'start'));

GRANT SELECT ON zantrel.batches, zantrel.batch_states, zantrel.batch_moves, zantrel.batch_overview
    TO zantrel_station, zantrel_reader, zantrel_supervisor, zantrel_rework, zantrel_planner;
GRANT SELECT ON ALL TABLES IN SCHEMA zantrel TO zantrel_planner;
GRANT INSERT ON zantrel.batches TO zantrel_planner;
GRANT INSERT (batch, change, person, reason) ON zantrel.batch_states TO zantrel_planner;

DO $$
BEGIN
    IF EXISTS (SELECT FROM pg_publication WHERE pubname = 'zantrel_record') THEN
        ALTER PUBLICATION zantrel_record ADD TABLE zantrel.batches, zantrel.batch_states;
    END IF;
END
$$;
