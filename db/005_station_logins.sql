-- Version 5: a station writes only for itself. Each station's name belongs to one
-- login (zantrel-db station add NAME LOGIN); a login may add only its own stations'
-- boxes, their rows and their state, and conflicts only where its own box came
-- second. Everyone who may read still reads everything. A decision takes its time
-- from the server and its login from the session; the name a person typed is kept
-- beside it.

CREATE TABLE zantrel.stations (
    station text PRIMARY KEY,
    login   name NOT NULL
);
GRANT SELECT ON zantrel.stations TO zantrel_station, zantrel_reader, zantrel_supervisor;

-- Whether the session's login owns that station.
CREATE FUNCTION zantrel.own_station(name text) RETURNS boolean LANGUAGE sql STABLE AS $$
    SELECT EXISTS (SELECT FROM zantrel.stations s WHERE s.station = name AND s.login = session_user)
$$;
CREATE FUNCTION zantrel.own_box(box uuid) RETURNS boolean LANGUAGE sql STABLE AS $$
    SELECT EXISTS (SELECT FROM zantrel.boxes b JOIN zantrel.stations s USING (station)
                   WHERE b.box_id = box AND s.login = session_user)
$$;

ALTER TABLE zantrel.boxes ENABLE ROW LEVEL SECURITY;
CREATE POLICY boxes_read ON zantrel.boxes FOR SELECT USING (true);
CREATE POLICY boxes_add ON zantrel.boxes FOR INSERT TO zantrel_station WITH CHECK (zantrel.own_station(station));

ALTER TABLE zantrel.box_rows ENABLE ROW LEVEL SECURITY;
CREATE POLICY box_rows_read ON zantrel.box_rows FOR SELECT USING (true);
CREATE POLICY box_rows_add ON zantrel.box_rows FOR INSERT TO zantrel_station WITH CHECK (zantrel.own_box(box_id));

ALTER TABLE zantrel.station_state ENABLE ROW LEVEL SECURITY;
CREATE POLICY station_state_read ON zantrel.station_state FOR SELECT USING (true);
CREATE POLICY station_state_add ON zantrel.station_state FOR INSERT TO zantrel_station WITH CHECK (zantrel.own_station(station));
CREATE POLICY station_state_change ON zantrel.station_state FOR UPDATE TO zantrel_station
    USING (zantrel.own_station(station)) WITH CHECK (zantrel.own_station(station));

-- A conflict is recorded by the station whose box came second, for a pack both boxes hold.
ALTER TABLE zantrel.pack_conflicts ENABLE ROW LEVEL SECURITY;
CREATE POLICY pack_conflicts_read ON zantrel.pack_conflicts FOR SELECT USING (true);
CREATE POLICY pack_conflicts_add ON zantrel.pack_conflicts FOR INSERT TO zantrel_station
    WITH CHECK (zantrel.own_box(box_id)
                AND EXISTS (SELECT FROM zantrel.box_rows r WHERE r.box_id = pack_conflicts.box_id AND r.kind = 2 AND r.text = barcode)
                AND EXISTS (SELECT FROM zantrel.box_rows r WHERE r.box_id = earlier_box AND r.kind = 2 AND r.text = barcode));

ALTER TABLE zantrel.conflict_decisions ADD COLUMN decided_login name;
CREATE FUNCTION zantrel.decision_as_recorded() RETURNS trigger LANGUAGE plpgsql AS $$
BEGIN
    NEW.decided_at := now();
    NEW.decided_login := session_user;
    RETURN NEW;
END
$$;
CREATE TRIGGER conflict_decisions_as_recorded BEFORE INSERT ON zantrel.conflict_decisions
    FOR EACH ROW EXECUTE FUNCTION zantrel.decision_as_recorded();
