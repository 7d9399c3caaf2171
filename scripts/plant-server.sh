#!/usr/bin/env bash
# A throwaway PostgreSQL server for trying the plant record and for its end-to-end
# test: a cluster of its own in DIR, reached only through a Unix socket there, with
# the database "zantrel" made by zantrel-db and two logins as the README has a DBA
# make them: line3 (a station, in zantrel_station) and board (in zantrel_reader and
# zantrel_supervisor: the line's board, which records decisions on conflicts), with the
# stations line3-a and line3-b given to line3.
#   plant-server.sh start DIR ZANTREL_DB   prints the connection string of database zantrel, without a user
#   plant-server.sh stop DIR
set -euo pipefail
action=$1
dir=$(mkdir -p "$2" && cd "$2" && pwd)
bin=$(pg_config --bindir)
as_postgres=()
[ "$(id -u)" -eq 0 ] && as_postgres=(runuser -u postgres --)

if [ "$action" = stop ]; then
  "${as_postgres[@]}" "$bin/pg_ctl" -D "$dir/data" -m fast stop >/dev/null 2>&1 || true
  exit 0
fi

zantrel_db=$3
port=$(( 20000 + RANDOM % 20000 ))
if [ ! -d "$dir/data" ]; then
  [ "$(id -u)" -eq 0 ] && chown postgres:postgres "$dir"
  "${as_postgres[@]}" "$bin/initdb" -D "$dir/data" -U postgres -A trust -E UTF8 >"$dir/initdb.log" 2>&1 \
    || { cat "$dir/initdb.log" >&2; exit 1; }
fi
"${as_postgres[@]}" "$bin/pg_ctl" -D "$dir/data" -l "$dir/log" -w \
  -o "-k $dir -p $port -c listen_addresses='' -c wal_level=logical" start >/dev/null \
  || { cat "$dir/log" >&2; exit 1; }
admin="host=$dir port=$port user=postgres"
psql_admin() { psql -X -q -v ON_ERROR_STOP=1 "$admin dbname=$1" -c "$2" >/dev/null; }
if [ -z "$(psql -X -tA "$admin dbname=postgres" -c "SELECT 1 FROM pg_database WHERE datname = 'zantrel'")" ]; then
  psql_admin postgres "CREATE DATABASE zantrel"
fi
"$zantrel_db" init "$admin dbname=zantrel" >&2
psql_admin zantrel "DO \$\$ BEGIN IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'line3') THEN CREATE ROLE line3 LOGIN; END IF;
  IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'board') THEN CREATE ROLE board LOGIN; END IF; END \$\$;
  GRANT zantrel_station TO line3; GRANT zantrel_reader, zantrel_supervisor TO board;"
# The line's two stations belong to that login: no other login may write for them.
for station in line3-a line3-b; do
  "$zantrel_db" station add "$station" line3 "$admin dbname=zantrel" >&2
done
echo "host=$dir port=$port dbname=zantrel"
