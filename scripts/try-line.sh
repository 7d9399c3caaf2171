#!/usr/bin/env bash
# A line of two stations recording into one database, to look at: a throwaway
# PostgreSQL server in build/line/db, two program folders build/line/a and
# build/line/b, each with a scanner simulator that scans a pack every two seconds
# (what arrives before Start opens the port is thrown away, as on a real line).
# Every 10 s the line's state is printed (zantrel-db status). Ctrl-C ends it all; the
# folders stay for a look (remove build/line to start afresh).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target zantrel scanner-sim zantrel-db zantrel-find zantrel-board

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

fail() { echo "try-line: $*" >&2; exit 1; }
started() { # pid what: the program is still running a moment after its start
  for _ in $(seq 20); do kill -0 "$1" 2>/dev/null || fail "$2 did not start"; sleep 0.1; done
}

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
  # A pack every two seconds, from now on; the station throws away what arrived
  # before its scan window opened the port.
  prefix=$(echo "$s" | tr a-z A-Z)
  ( n=0; while sleep 2; do n=$((n + 1)); printf '%s%05d\n' "$prefix" "$n"; done ) \
    | build/tools/scanner-sim --folder "$folder" --port 1 2>"$line/scanner-$s.log" &
  pids+=($!)
  started $! "the scanner simulator of station $s"
  (cd "$folder" && exec "${launch[@]}" ./zantrel 2>"$line/station-$s.log") &
  pids+=($!)
  started $! "station $s"
done

cat <<MSG

Two stations are running, each in its own window (program folders $line/a and $line/b),
recording into the database "$db".

  1. Press 开始 (Start) in each window. Their scanners send a pack every two seconds.
  2. About 20 seconds after Start (ten packs), the first full box goes to the station's
     workbook and, at once, to the database; every 20 seconds another follows.
  3. Look a pack up line-wide, or the whole line:

       build/station/zantrel-find --db '$db user=board' A00003
       build/station/zantrel-db status '$db user=board'

Ctrl-C ends the stations, the board and the server.
MSG

# The line's board, on this machine only; its address once it answers.
build/station/zantrel-board --db "$db user=board" --listen 127.0.0.1:8765 >"$line/board.out" 2>"$line/board.log" &
pids+=($!)
board_pid=$!
for _ in $(seq 100); do
  grep -q '^http://' "$line/board.out" 2>/dev/null && break
  kill -0 "$board_pid" 2>/dev/null || { cat "$line/board.log" >&2; fail "the line's board did not start"; }
  sleep 0.1
done
grep -q '^http://' "$line/board.out" || fail "the line's board did not answer"
echo
echo "  4. The line's board answers: $(head -n1 "$line/board.out")"
echo

while sleep 10; do
  build/station/zantrel-db status "$db user=board" || true
  echo
done
