-- Version 15: operators. A person who packs, supervises, checks quality or administers is
-- an operator: a 工号 (unique, never reused), a name, a role, active or not. Passwords are
-- kept only as argon2id verifiers (libsodium's crypto_pwhash_str), in a table no role may
-- read; a login reads one operator's verifier through zantrel.login_verifier and reports
-- how it went through zantrel.login_result. Every change (added, role changed, disabled,
-- enabled, password set, a login, a failed login, a lockout) is a row of its own, by whom
-- and when by the record's clock; nothing is updated or deleted. Five failed logins in a
-- row lock a 工号 for 15 minutes. Operators are changed by a login in zantrel_admin, each
-- change signed by an active admin operator (the record's first admin by a login that owns
-- the schema).

DO $$
BEGIN
    IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'zantrel_admin') THEN
        CREATE ROLE zantrel_admin NOLOGIN;
    END IF;
END
$$;
GRANT USAGE ON SCHEMA zantrel TO zantrel_admin;

INSERT INTO zantrel.refusals (sqlstate, meaning) VALUES
    ('ZR016', 'operator: there is no operator of that 工号'),
    ('ZR017', 'operator: a 工号 is never used twice'),
    ('ZR018', 'operator: the change is not signed by an active admin'),
    ('ZR019', 'operator: the 工号 is locked after failed logins (detail: json with until)'),
    ('ZR020', 'operator: that change does not fit the operator as it stands');

\ir shared/operators.sql

DO $$
DECLARE
    id uuid := (SELECT plant_id FROM zantrel.plant);
BEGIN
    EXECUTE format('ALTER TABLE zantrel.operators ALTER COLUMN plant_id SET DEFAULT %L', id);
    EXECUTE format('ALTER TABLE zantrel.operator_events ALTER COLUMN plant_id SET DEFAULT %L', id);
END
$$;
ALTER TABLE zantrel.operator_events ALTER COLUMN event_id ADD GENERATED ALWAYS AS IDENTITY;
ALTER TABLE zantrel.operator_events ADD CONSTRAINT operator_events_id UNIQUE (event_id);
ALTER TABLE zantrel.operators ADD CONSTRAINT operators_id UNIQUE (operator_id);
ALTER TABLE zantrel.operator_events ADD FOREIGN KEY (operator_id) REFERENCES zantrel.operators (operator_id);

-- The verifiers: the plant's alone (never published), read by no role.
CREATE TABLE zantrel.operator_verifiers (
    event_id    bigint PRIMARY KEY REFERENCES zantrel.operator_events (event_id),
    operator_id text NOT NULL REFERENCES zantrel.operators (operator_id),
    verifier    text NOT NULL CHECK (verifier LIKE '$argon2id$%' AND length(verifier) <= 200)
);
CREATE INDEX operator_verifiers_operator ON zantrel.operator_verifiers (operator_id, event_id);
REVOKE ALL ON zantrel.operator_verifiers FROM PUBLIC;

CREATE TRIGGER operators_never_change BEFORE UPDATE OR DELETE ON zantrel.operators
    FOR EACH ROW EXECUTE FUNCTION zantrel.refuse_change();
CREATE TRIGGER operator_events_never_change BEFORE UPDATE OR DELETE ON zantrel.operator_events
    FOR EACH ROW EXECUTE FUNCTION zantrel.refuse_change();
CREATE TRIGGER operator_verifiers_never_change BEFORE UPDATE OR DELETE ON zantrel.operator_verifiers
    FOR EACH ROW EXECUTE FUNCTION zantrel.refuse_change();

-- One operator's login: what a login needs and nothing more, the verifier with it.
CREATE FUNCTION zantrel.login_verifier(id text)
    RETURNS TABLE (name text, role text, active boolean, locked_until timestamptz, verifier text)
    LANGUAGE sql STABLE SECURITY DEFINER SET search_path = pg_catalog, zantrel AS $$
    -- No verifier for an operator who may not log in now (disabled, or locked).
    SELECT s.name, s.role, s.active, s.locked_until,
           CASE WHEN s.active AND s.locked_until IS NULL THEN
               (SELECT v.verifier FROM zantrel.operator_verifiers v WHERE v.operator_id = id ORDER BY v.event_id DESC LIMIT 1) END
    FROM zantrel.operator_state s WHERE s.operator_id = id
$$;

-- How a login went, as the login says; five failures in a row lock the 工号. Returns when
-- it is locked until (NULL: not locked).
CREATE FUNCTION zantrel.login_result(id text, ok boolean, at_station text) RETURNS timestamptz
    LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, zantrel AS $$
DECLARE
    now_state record;
BEGIN
    PERFORM pg_advisory_xact_lock(hashtextextended(id, 7403));
    SELECT * INTO now_state FROM zantrel.operator_state s WHERE s.operator_id = id;
    IF NOT FOUND THEN
        RAISE EXCEPTION 'zantrel: there is no operator %', id USING ERRCODE = 'ZR016';
    END IF;
    IF now_state.locked_until IS NOT NULL THEN
        RETURN now_state.locked_until;
    END IF;
    INSERT INTO zantrel.operator_events (operator_id, kind, station)
    VALUES (id, CASE WHEN ok THEN 'login' ELSE 'login-failed' END, left(coalesce(at_station, ''), 200));
    IF NOT ok AND now_state.failures + 1 >= 5 THEN
        INSERT INTO zantrel.operator_events (operator_id, kind, station) VALUES (id, 'locked', left(coalesce(at_station, ''), 200));
        RETURN now() + interval '15 minutes';
    END IF;
    RETURN NULL;
END
$$;

-- A change of operators, signed by an active admin (by; NULL only for the record's first
-- admin, added by a login that owns the schema). kind: added (name, role, verifier), role
-- (role), password (verifier), disabled, enabled.
CREATE FUNCTION zantrel.change_operator(kind text, id text, by_id text, new_name text, new_role text, new_verifier text)
    RETURNS bigint LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, zantrel AS $$
DECLARE
    signer record;
    now_state record;
    event bigint;
BEGIN
    IF NOT pg_has_role(session_user, 'zantrel_admin', 'MEMBER') THEN
        RAISE EXCEPTION 'zantrel: login % may not change operators', session_user USING ERRCODE = 'insufficient_privilege';
    END IF;
    PERFORM pg_advisory_xact_lock(7403);
    IF by_id IS NULL THEN
        IF EXISTS (SELECT FROM zantrel.operators) OR kind <> 'added' OR new_role <> 'admin'
           OR NOT pg_has_role(session_user, (SELECT n.nspowner FROM pg_namespace n WHERE n.nspname = 'zantrel'), 'MEMBER') THEN
            RAISE EXCEPTION 'zantrel: the change is not signed by an admin' USING ERRCODE = 'ZR018';
        END IF;
    ELSE
        SELECT * INTO signer FROM zantrel.operator_state s WHERE s.operator_id = by_id;
        IF NOT FOUND OR NOT signer.active OR signer.role <> 'admin' OR signer.locked_until IS NOT NULL THEN
            RAISE EXCEPTION 'zantrel: % is no active admin', by_id USING ERRCODE = 'ZR018';
        END IF;
    END IF;
    SELECT * INTO now_state FROM zantrel.operator_state s WHERE s.operator_id = id;
    IF kind = 'added' THEN
        IF EXISTS (SELECT FROM zantrel.operators o WHERE o.operator_id = id) THEN
            RAISE EXCEPTION 'zantrel: 工号 % is taken', id USING ERRCODE = 'ZR017';
        END IF;
        INSERT INTO zantrel.operators (operator_id, name) VALUES (id, new_name);
    ELSIF NOT FOUND THEN
        RAISE EXCEPTION 'zantrel: there is no operator %', id USING ERRCODE = 'ZR016';
    ELSIF (kind = 'disabled' AND NOT now_state.active) OR (kind = 'enabled' AND now_state.active)
          OR (kind = 'role' AND new_role = now_state.role) OR (kind = 'disabled' AND id = by_id) THEN
        RAISE EXCEPTION 'zantrel: % does not fit operator % as it stands', kind, id USING ERRCODE = 'ZR020';
    END IF;
    INSERT INTO zantrel.operator_events (operator_id, kind, role, by_operator)
    VALUES (id, kind, CASE WHEN kind IN ('added', 'role') THEN new_role END, by_id)
    RETURNING event_id INTO event;
    IF kind IN ('added', 'password') THEN
        INSERT INTO zantrel.operator_verifiers (event_id, operator_id, verifier) VALUES (event, id, new_verifier);
    END IF;
    RETURN event;
END
$$;

CREATE FUNCTION zantrel.operator_as_recorded() RETURNS trigger LANGUAGE plpgsql AS $$
BEGIN
    NEW.added_at := now();
    NEW.added_login := session_user;
    RETURN NEW;
END
$$;
CREATE TRIGGER operators_as_recorded BEFORE INSERT ON zantrel.operators
    FOR EACH ROW EXECUTE FUNCTION zantrel.operator_as_recorded();
CREATE FUNCTION zantrel.operator_event_as_recorded() RETURNS trigger LANGUAGE plpgsql AS $$
BEGIN
    NEW.at := now();
    NEW.login := session_user;
    RETURN NEW;
END
$$;
CREATE TRIGGER operator_events_as_recorded BEFORE INSERT ON zantrel.operator_events
    FOR EACH ROW EXECUTE FUNCTION zantrel.operator_event_as_recorded();

-- Once the record has operators, every change of a box and of a batch names the operator
-- who signed it, one of the roles that may (the program checked his password): rework by
-- a supervisor or QA, batches by a supervisor or an admin. A decision's own changes, and
-- a batch started by its first box, are signed where they come from.
CREATE FUNCTION zantrel.signed_as_allowed(signer text, roles text[]) RETURNS boolean LANGUAGE sql STABLE AS $$
    SELECT NOT EXISTS (SELECT FROM zantrel.operators)
           OR EXISTS (SELECT FROM zantrel.operator_state s
                      WHERE s.operator_id = signer AND s.active AND s.role = ANY (roles))
$$;
CREATE FUNCTION zantrel.box_change_signed() RETURNS trigger LANGUAGE plpgsql AS $$
BEGIN
    IF NEW.decision_id IS NULL AND NOT zantrel.signed_as_allowed(NEW.signed_by, ARRAY['supervisor', 'qa']) THEN
        RAISE EXCEPTION 'zantrel: the change is not signed by a supervisor or QA' USING ERRCODE = 'ZR018';
    END IF;
    RETURN NEW;
END
$$;
CREATE TRIGGER box_changes_signed BEFORE INSERT ON zantrel.box_changes
    FOR EACH ROW EXECUTE FUNCTION zantrel.box_change_signed();
-- The box as a change finds it and as it leaves it: void or not, and the packs in it (their
-- texts, in the order packed, put-ins after). Worked out before the change is stored, from
-- where packs are now and what the change does.
CREATE FUNCTION zantrel.box_change_states() RETURNS trigger LANGUAGE plpgsql AS $$
DECLARE
    voided boolean := zantrel.box_voided(NEW.box_id);
    now_packs jsonb;
    held jsonb; -- what the box holds apart from its being void: what a restore brings back
BEGIN
    SELECT coalesce(jsonb_agg(n.barcode ORDER BY n.row_index NULLS LAST, n.barcode), '[]') INTO now_packs
    FROM zantrel.packs_now n WHERE n.box_id = NEW.box_id;
    NEW.box_before := jsonb_build_object('void', voided, 'packs', now_packs);
    IF NEW.kind = 'take-out' THEN
        NEW.box_after := jsonb_build_object('void', false, 'packs',
            coalesce((SELECT jsonb_agg(p) FROM jsonb_array_elements_text(now_packs) p WHERE p <> NEW.barcode), '[]'));
    ELSIF NEW.kind = 'put-in' THEN
        -- In the order where packs are now lists them: a pack put back where it was packed.
        NEW.box_after := jsonb_build_object('void', false, 'packs',
            (SELECT jsonb_agg(p ORDER BY (SELECT min(r.row_index) FROM zantrel.box_rows r
                                          WHERE r.box_id = NEW.box_id AND r.kind = zantrel.pack_row() AND r.text = p) NULLS LAST, p)
             FROM jsonb_array_elements_text(now_packs || to_jsonb(NEW.barcode)) p));
    ELSIF NEW.kind = 'void' THEN
        NEW.box_after := jsonb_build_object('void', true, 'packs', '[]'::jsonb);
    ELSE
        SELECT coalesce(jsonb_agg(w.barcode ORDER BY w.row_index NULLS LAST, w.barcode), '[]') INTO held
        FROM (SELECT DISTINCT ON (zantrel.pack_key(u.barcode, u.gtin, u.serial)) u.*
              FROM (SELECT r.text AS barcode, r.gtin, r.serial, r.row_index FROM zantrel.box_rows r
                    WHERE r.box_id = NEW.box_id AND r.kind = zantrel.pack_row()
                    UNION ALL
                    SELECT c.barcode, c.gtin, c.serial, NULL FROM zantrel.box_changes c
                    WHERE c.box_id = NEW.box_id AND c.kind = 'put-in') u
              ORDER BY zantrel.pack_key(u.barcode, u.gtin, u.serial), u.row_index NULLS LAST) w
        WHERE coalesce((SELECT c.kind = 'put-in' FROM zantrel.box_changes c
                        WHERE c.box_id = NEW.box_id AND c.barcode IS NOT NULL
                          AND zantrel.pack_key(c.barcode, c.gtin, c.serial) = zantrel.pack_key(w.barcode, w.gtin, w.serial)
                        ORDER BY c.change_id DESC LIMIT 1), true);
        NEW.box_after := jsonb_build_object('void', false, 'packs', held);
    END IF;
    RETURN NEW;
END
$$;
CREATE TRIGGER box_changes_states BEFORE INSERT ON zantrel.box_changes
    FOR EACH ROW EXECUTE FUNCTION zantrel.box_change_states();

-- A decision, once the record has operators, is signed by a supervisor or QA: it means 裁定.
CREATE FUNCTION zantrel.decision_signed() RETURNS trigger LANGUAGE plpgsql AS $$
BEGIN
    IF NOT zantrel.signed_as_allowed(NEW.signed_by, ARRAY['supervisor', 'qa']) THEN
        RAISE EXCEPTION 'zantrel: the decision is not signed by a supervisor or QA' USING ERRCODE = 'ZR018';
    END IF;
    IF NEW.signed_by IS NOT NULL THEN
        NEW.meaning := '裁定';
    END IF;
    RETURN NEW;
END
$$;
CREATE TRIGGER conflict_decisions_signed BEFORE INSERT ON zantrel.conflict_decisions
    FOR EACH ROW EXECUTE FUNCTION zantrel.decision_signed();

CREATE FUNCTION zantrel.batch_change_signed() RETURNS trigger LANGUAGE plpgsql AS $$
BEGIN
    IF TG_TABLE_NAME = 'batch_states' THEN
        IF NEW.change IN ('add', 'start') THEN
            RETURN NEW; -- signed as the batch was, or started by its first box
        END IF;
    END IF;
    IF NOT zantrel.signed_as_allowed(NEW.signed_by, ARRAY['supervisor', 'admin']) THEN
        RAISE EXCEPTION 'zantrel: the change is not signed by a supervisor or admin' USING ERRCODE = 'ZR018';
    END IF;
    RETURN NEW;
END
$$;
CREATE TRIGGER batches_signed BEFORE INSERT ON zantrel.batches
    FOR EACH ROW EXECUTE FUNCTION zantrel.batch_change_signed();
CREATE TRIGGER batch_states_signed BEFORE INSERT ON zantrel.batch_states
    FOR EACH ROW EXECUTE FUNCTION zantrel.batch_change_signed();
-- The released row names who signed the batch's adding.
CREATE OR REPLACE FUNCTION zantrel.batch_released() RETURNS trigger LANGUAGE plpgsql SECURITY DEFINER
    SET search_path = pg_catalog, zantrel AS $$
BEGIN
    INSERT INTO zantrel.batch_states (batch, change, person, signed_by) VALUES (NEW.batch, 'add', NEW.added_by, NEW.signed_by);
    RETURN NULL;
END
$$;
GRANT INSERT (batch, change, person, reason, signed_by) ON zantrel.batch_states TO zantrel_planner;

REVOKE EXECUTE ON FUNCTION zantrel.login_verifier(text), zantrel.login_result(text, boolean, text),
    zantrel.change_operator(text, text, text, text, text, text) FROM PUBLIC;
GRANT EXECUTE ON FUNCTION zantrel.login_verifier(text), zantrel.login_result(text, boolean, text)
    TO zantrel_station, zantrel_supervisor, zantrel_rework, zantrel_planner, zantrel_admin;
GRANT EXECUTE ON FUNCTION zantrel.change_operator(text, text, text, text, text, text) TO zantrel_admin;
GRANT SELECT ON zantrel.operators, zantrel.operator_events, zantrel.operator_state
    TO zantrel_station, zantrel_reader, zantrel_supervisor, zantrel_rework, zantrel_planner, zantrel_admin;
GRANT SELECT ON zantrel.refusals, zantrel.plant, zantrel.schema_version TO zantrel_admin;
-- The board logs a supervisor in in the supervisor's role: it asks the version first.
GRANT SELECT ON zantrel.schema_version TO zantrel_supervisor;

DO $$
BEGIN
    IF EXISTS (SELECT FROM pg_publication WHERE pubname = 'zantrel_record') THEN
        ALTER PUBLICATION zantrel_record ADD TABLE zantrel.operators, zantrel.operator_events;
    END IF;
END
$$;
