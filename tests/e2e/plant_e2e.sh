#!/usr/bin/env bash
# Two real stations on one virtual screen, each with its own program folder and
# scanner, recording into one throwaway PostgreSQL database: a box written at each
# is found line-wide with zantrel-find --db, under its station's name.
#   plant_e2e.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
source_dir=$(cd "$2" && pwd)

if [ -z "${E2E_INSIDE_X:-}" ]; then
  export E2E_INSIDE_X=1
  exec xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" bash "$0" "$@"
fi

work=$(mktemp -d)
[ "$(id -u)" -eq 0 ] && chmod 755 "$work"
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  bash "$source_dir/scripts/plant-server.sh" stop "$work/db"
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "E2E FAILED: $*" >&2
  cat "$work"/*/station.log >&2 2>/dev/null
  [ -n "${SCREENSHOT_DIR:-}" ] && mkdir -p "$SCREENSHOT_DIR" && import -window root "$SCREENSHOT_DIR/plant-e2e-failed.png"
  exit 1
}

db=$(bash "$source_dir/scripts/plant-server.sh" start "$work/db" "$build/station/zantrel-db") || fail "no database server"

key() { xdotool key --delay 30 "$@"; }
typed() { xdotool type --delay 20 "$1"; }
windows_of() { xdotool search --all --pid "$1" --onlyvisible --name '^Zantrel系统V1\.0( — .*)?$' 2>/dev/null || true; }
wait_windows_of() { # pid count
  for _ in $(seq 100); do [ "$(windows_of "$1" | wc -l)" -ge "$2" ] && return 0; sleep 0.1; done
  fail "expected $2 windows of station $1"
}

# A station: its folder, its scanner on fd 3 or 4, its setup filled and Start pressed.
start_station() { # name fd [cf scope]
  local folder="$work/$1"
  mkdir -p "$folder/files"
  cp "$build/station/zantrel" "$folder/"
  printf '[length]\r\nnlen=8;\r\nzlen=3;\r\nwlen=3;\r\n[com]\r\nComPort1=1;\r\n[cf]\r\ncf=0;\r\nscope=%s;\r\nbudget=2000;\r\n[waittime]\r\nstime=60;\r\n[db]\r\nurl=%s user=line3;\r\nstation=line3-%s;\r\n' \
    "${3:-box}" "$db" "$1" > "$folder/config.ini"
  mkfifo "$folder/scans"
  "$build/tools/scanner-sim" --folder "$folder" --port 1 < "$folder/scans" 2>"$folder/scanner.log" &
  pids+=($!)
  eval "exec $2>\"$folder/scans\""
  for _ in $(seq 50); do [ -e "$folder/COM1" ] && break; sleep 0.1; done
  "$folder/zantrel" 2>"$folder/station.log" &
  local pid=$!
  pids+=("$pid")
  station_pid=$pid
  wait_windows_of "$pid" 1
  local setup
  setup=$(windows_of "$pid" | head -n1)
  local focused=""
  for _ in $(seq 100); do
    [ "$(xdotool getwindowfocus 2>/dev/null)" = "$setup" ] && { focused=1; break; }
    xdotool windowactivate "$setup" 2>/dev/null || xdotool windowfocus "$setup" 2>/dev/null; sleep 0.1
  done
  [ -n "$focused" ] || fail "the setup window of station $1 never got the focus"
  # Tab order from Start: cmdCancel, middle prefix, suffix, per middle, per outer, outer prefix, suffix, digits, …
  key Tab Tab; typed "Z"; key Tab; key Tab; typed "2"; key Tab; typed "4"; key Tab; typed "W"
  key Tab; key Tab; typed "3"; key Tab; key Tab; typed "1"; key Tab; typed "1"; key Tab space
  wait_windows_of "$pid" 2
}

box_written() { # name fd barcodes…: scanned one by one; the last one fills the box
  local folder="$work/$1" fd=$2; shift 2
  for b in "$@"; do
    echo "$b" >&"$fd"
    for _ in $(seq 100); do grep -q "^pack $b\$" "$folder/open-box.txt" 2>/dev/null && break; \
      ! grep -q '^pack ' "$folder/open-box.txt" 2>/dev/null && [ "$b" = "${*: -1}" ] && break; sleep 0.1; done
  done
  for _ in $(seq 100); do grep -q '^pack ' "$folder/open-box.txt" || return 0; sleep 0.1; done
  fail "station $1 did not write its box: $(cat "$folder/open-box.txt")"
}

start_station a 3
box_written a 3 A00001 A00002 A00003 A00004
start_station b 4 plant
box_written b 4 B00001 B00002 B00003 B00004
pid_b=$station_pid

# Delivered by each station's sender: found line-wide, each under its station.
found=""
for _ in $(seq 150); do
  found=$("$build/station/zantrel-find" --db "$db user=board" A00003 B00002 2>&1) && [ "$(echo "$found" | wc -l)" -eq 2 ] && break
  sleep 0.2
done
today=$(date +%Y%m%d)
expected=$(printf '%s.xls\t7\tW001\tZ002\tA00003\tline3-a\n%s.xls\t5\tW001\tZ001\tB00002\tline3-b' "$today" "$today")
[ "$found" = "$expected" ] || fail "zantrel-find --db found: $found"
status=$("$build/station/zantrel-db" status "$db user=board")
echo "$status" | grep -q "^line3-a	1	W001	" || fail "zantrel-db status: $status"
echo "$status" | grep -q "^line3-b	1	W001	" || fail "zantrel-db status: $status"
[ ! -s "$work/a/outbox.txt" ] || ! grep -q '^box ' "$work/a/outbox.txt" || fail "station a kept a delivered box"
# Station b checks the whole plant: station a's pack is refused there, named, and not listed.
echo A00003 >&4
m=""
for _ in $(seq 100); do
  m=$(xdotool search --all --pid "$pid_b" --onlyvisible --name '^Zantrel$' 2>/dev/null | head -n1 || true)
  [ -n "$m" ] && break; sleep 0.1
done
[ -n "$m" ] || fail "station b did not refuse station a's pack"
grep -q "A00003" "$work/b/files/refused-$today.txt" || fail "the refusal is not on record: $(cat "$work/b/files/refused-$today.txt" 2>&1)"
grep -q '^pack A00003' "$work/b/open-box.txt" && fail "station b listed station a's pack"
xdotool windowfocus --sync "$m"; key Return
echo "E2E passed: two stations, one record; both boxes found with zantrel-find --db; a pack of one refused at the other"
