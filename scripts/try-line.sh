#!/usr/bin/env bash
# A line of two stations recording into one database, to look at: a throwaway
# PostgreSQL server in build/line/db, two program folders build/line/a and
# build/line/b, each with a scanner simulator that scans a pack every two seconds
# once Start is pressed. Every 10 s the line's state is printed (zantrel-db status).
# Ctrl-C ends it all; the folders stay for a look (remove build/line to start afresh).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target zantrel scanner-sim zantrel-db zantrel-find

line=$here/build/line
mkdir -p "$line"
[ "$(id -u)" -eq 0 ] && chmod 755 "$line"
db=$(bash scripts/plant-server.sh start "$line/db" build/station/zantrel-db)
pids=()
finish() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  bash scripts/plant-server.sh stop "$line/db"
}
trap finish EXIT
trap "exit 130" INT TERM

launch=()
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display found: the stations run on a virtual screen (xvfb-run)."
  launch=(xvfb-run -a)
fi

for s in a b; do
  folder=$line/$s
  mkdir -p "$folder/files"
  cp build/station/zantrel "$folder/"
  cp -r build/station/sounds "$folder/" 2>/dev/null || true
  if [ ! -e "$folder/config.ini" ]; then
    printf '[length]\r\nnlen=8;\r\nzlen=3;\r\nwlen=3;\r\n[com]\r\nComPort1=1;\r\n[cf]\r\ncf=0;\r\n[waittime]\r\nstime=60;\r\n[db]\r\nurl=%s user=line3;\r\nstation=line3-%s;\r\n' \
      "$db" "$s" > "$folder/config.ini"
  else
    sed -i "s|^url=.*|url=$db user=line3;\r|" "$folder/config.ini"
  fi
  # A pack every two seconds; packs the station is not listening for yet are not kept.
  prefix=$(echo "$s" | tr a-z A-Z)
  ( n=0; while sleep 2; do n=$((n + 1)); printf '%s%05d\n' "$prefix" "$n"; done ) \
    | build/tools/scanner-sim --folder "$folder" --port 1 2>/dev/null &
  pids+=($!)
  (cd "$folder" && exec "${launch[@]}" ./zantrel) &
  pids+=($!)
done
# The line's board, on this machine only.
build/station/zantrel-board --db "$db user=board" --listen 127.0.0.1:8765 >/dev/null &
pids+=($!)

cat <<MSG

Two stations are running, each in its own window (program folders $line/a and $line/b),
recording into the database "$db".
Press 开始 (Start) in each; their scanners then send a pack every two seconds, and a full
box goes to the station's workbook and, at once, to the database. Look it up line-wide:

  build/station/zantrel-find --db '$db user=board' A00003
  build/station/zantrel-db status '$db user=board'

The line's board: http://127.0.0.1:8765/

Ctrl-C ends the stations and the server.

MSG
while sleep 10; do
  build/station/zantrel-db status "$db user=board" || true
  echo
done
