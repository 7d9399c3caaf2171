-- Operators and every change of them, in a plant's record and in a company's database alike
-- (without the verifiers, which stay in the plant): applied by both migrations. A 工号 is
-- the plant's own. Change it here only.

CREATE TABLE zantrel.operators (
    plant_id    uuid NOT NULL,
    operator_id text NOT NULL CHECK (operator_id ~ '^[0-9A-Za-z_.-]{1,20}$'), -- 工号
    name        text NOT NULL CHECK (name <> '' AND length(name) <= 100),
    added_at    timestamptz NOT NULL,
    added_login name NOT NULL,
    PRIMARY KEY (plant_id, operator_id)
);

CREATE TABLE zantrel.operator_events (
    plant_id    uuid NOT NULL,
    event_id    bigint NOT NULL,
    operator_id text NOT NULL,
    kind        text NOT NULL CHECK (kind IN ('added', 'role', 'disabled', 'enabled', 'password', 'login', 'login-failed', 'locked')),
    role        text CHECK (role IN ('packer', 'supervisor', 'qa', 'admin')), -- added, role: the role from then on
    by_operator text,            -- the admin who signed the change; none for logins and the first admin
    station     text,            -- where a login was tried
    at          timestamptz NOT NULL,
    login       name NOT NULL,
    PRIMARY KEY (plant_id, event_id),
    CHECK ((kind IN ('added', 'role')) = (role IS NOT NULL))
);
CREATE INDEX operator_events_operator ON zantrel.operator_events (operator_id, event_id);

-- A box names the operator who wrote it and every one who scanned into it (their 工号,
-- blank-separated, in the order they first did); none at a station where nobody logs in.
ALTER TABLE zantrel.boxes
    ADD COLUMN written_by text,
    ADD COLUMN operators text;

-- Once a plant has operators, a change of a box and of a batch is signed: the 工号 of the
-- supervisor, QA or admin who signed it with his password.
ALTER TABLE zantrel.box_changes ADD COLUMN signed_by text;
-- And keeps the box as the change found it and as it left it: {"void": …, "packs": [texts]}.
ALTER TABLE zantrel.box_changes
    ADD COLUMN box_before jsonb,
    ADD COLUMN box_after jsonb;
ALTER TABLE zantrel.batches ADD COLUMN signed_by text;
ALTER TABLE zantrel.batch_states ADD COLUMN signed_by text;
-- A decision on a conflict is a signature: who (signed_by), and what it means ("裁定").
ALTER TABLE zantrel.conflict_decisions
    ADD COLUMN signed_by text,
    ADD COLUMN meaning text;

-- Each operator as the events leave them: name, role, active, failed logins in a row and,
-- while a lockout lasts, its end.
CREATE OR REPLACE VIEW zantrel.operator_state AS
SELECT o.plant_id, o.operator_id, o.name,
       (SELECT e.role FROM zantrel.operator_events e
        WHERE e.operator_id = o.operator_id AND e.plant_id = o.plant_id AND e.role IS NOT NULL
        ORDER BY e.event_id DESC LIMIT 1) AS role,
       coalesce((SELECT e.kind <> 'disabled' FROM zantrel.operator_events e
                 WHERE e.operator_id = o.operator_id AND e.plant_id = o.plant_id AND e.kind IN ('disabled', 'enabled')
                 ORDER BY e.event_id DESC LIMIT 1), true) AS active,
       (SELECT count(*) FROM zantrel.operator_events e
        WHERE e.operator_id = o.operator_id AND e.plant_id = o.plant_id AND e.kind = 'login-failed'
          AND e.event_id > coalesce((SELECT max(x.event_id) FROM zantrel.operator_events x
                                     WHERE x.operator_id = o.operator_id AND x.plant_id = o.plant_id
                                       AND x.kind IN ('login', 'password', 'enabled', 'locked')), 0))::integer AS failures,
       (SELECT CASE WHEN e.kind = 'locked' AND e.at + interval '15 minutes' > now() THEN e.at + interval '15 minutes' END
        FROM zantrel.operator_events e
        WHERE e.operator_id = o.operator_id AND e.plant_id = o.plant_id AND e.kind IN ('locked', 'login', 'password', 'enabled')
        ORDER BY e.event_id DESC LIMIT 1) AS locked_until
FROM zantrel.operators o;
