#!/usr/bin/env bash
# The line demo as a newcomer runs it: scripts/try-line.sh on a virtual screen, nothing
# pressed for more than a minute while the simulators scan, then Start in both windows.
# Both stations' first boxes must be in the record within 60 s of Start, the board must
# answer with both stations, nothing may be refused, and Ctrl-C must leave no process.
#   try_line_e2e.sh SOURCE_DIR
set -euo pipefail
source_dir=$(cd "$1" && pwd)

if [ -z "${E2E_INSIDE_X:-}" ]; then
  export E2E_INSIDE_X=1
  exec xvfb-run -a -s "-screen 0 1600x1200x24 -noreset" bash "$0" "$@"
fi

cd "$source_dir"
line=$source_dir/build/line
rm -rf "$line"
out=$(mktemp)
script=""
leftovers() { pgrep -f "$line/|try-line\.sh" || true; }
cleanup() {
  if [ -n "$script" ] && kill -0 "$script" 2>/dev/null; then
    kill -INT "$script" 2>/dev/null || true
    wait "$script" 2>/dev/null || true
  fi
  rm -f "$out"
}
trap cleanup EXIT
fail() {
  echo "E2E FAILED: $*" >&2
  cat "$out" >&2
  cat "$line"/station-*.log "$line"/board.log >&2 2>/dev/null || true
  exit 1
}

# Started as from a terminal: a background job of a script ignores Ctrl-C, a person's does not.
python3 -c 'import os, signal, sys; signal.signal(signal.SIGINT, signal.SIG_DFL); os.execvp(sys.argv[1], sys.argv[1:])' \
  bash scripts/try-line.sh >"$out" 2>&1 &
script=$!
began=$(date +%s)

until grep -q "看板：http" "$out"; do
  kill -0 "$script" 2>/dev/null || fail "try-line.sh ended before the board answered"
  [ $(( $(date +%s) - began )) -lt 300 ] || fail "the board never answered"
  sleep 0.2
done
# The commands it prints use the database through a short variable.
db=""
. "$line/db.env"
[ -n "$db" ] || fail "the script did not name its database in build/line/db.env"
board=$(sed -n "s/.*看板：\(http[^ ]*\).*/\1/p" "$out")

# A newcomer reads for more than a minute; the simulators scan all the while.
while [ $(( $(date +%s) - began )) -lt 65 ]; do sleep 1; done

windows=$(xdotool search --onlyvisible --name '^Zantrel系统V1\.0$' 2>/dev/null || true)
# Side by side on the one screen, not on top of each other.
xs=$(for w in $windows; do xdotool getwindowgeometry "$w" | sed -n 's/.*Position: \([0-9]*\),.*/\1/p'; done | sort -u | grep -c . || true)
[ "$xs" -eq 2 ] || fail "the two setup windows open at the same place"
[ "$(echo "$windows" | grep -c .)" -eq 2 ] || fail "expected the two setup windows, found: $windows"
# Start holds the focus when the window opens. A key the X server hands to a window
# before it takes the focus is lost: pressed again until the scan window opens.
# A scan window's title names its station.
visible() { xdotool search --onlyvisible --name '^Zantrel系统V1\.0( — line3-[ab])?$' 2>/dev/null | grep -c . || true; }
expected=2
for w in $windows; do
  expected=$((expected + 1))
  for _ in 1 2 3 4 5; do
    xdotool windowfocus --sync "$w"
    xdotool key --delay 30 space
    for _ in $(seq 50); do [ "$(visible)" -ge "$expected" ] && break 2; sleep 0.1; done
  done
  [ "$(visible)" -ge "$expected" ] || fail "Start did not open a scan window"
done
pressed=$(date +%s)

records() { psql -X -tA "$db user=board" -c "SELECT count(DISTINCT station) FROM zantrel.boxes" 2>/dev/null || echo 0; }
until [ "$(records)" = "2" ]; do
  [ $(( $(date +%s) - pressed )) -le 60 ] || fail "both stations' first boxes were not in the record within 60 s of Start"
  sleep 1
done

python3 - "$board" <<'PY' || fail "the board did not show both stations"
import json, sys, urllib.request
with urllib.request.urlopen(sys.argv[1] + 'api/board', timeout=10) as r:
    names = sorted(s['name'] for s in json.load(r)['stations'])
sys.exit(0 if names == ['line3-a', 'line3-b'] else 1)
PY

# What waited in the closed ports was thrown away and noted; nothing was refused.
for s in a b; do
  record=$(cat "$line/$s"/files/refused-*.txt 2>/dev/null || true)
  echo "$record" | grep -q '串口打开前收到的数据已丢弃' || fail "station $s noted no bytes thrown away: $record"
  refused=$(echo "$record" | grep -v '串口打开前收到的数据已丢弃' | grep . || true)
  [ -z "$refused" ] || fail "station $s refused scans: $refused"
done

# A newcomer's terminal: 80 columns (a CJK character takes two), no library noise.
narrow() {
  python3 - "$out" "$source_dir" <<'PY' || fail "a line of the demo is wider than 80 columns or says what a library said"
import sys, unicodedata
bad = []
for line in open(sys.argv[1], encoding='utf-8'):
    line = line.rstrip('\n')
    width = sum(2 if unicodedata.east_asian_width(c) in 'WF' else 1 for c in line)
    if (width > 80 and 'http' not in line and sys.argv[2] not in line) or 'WARNING' in line or 'XDG_RUNTIME_DIR' in line:
        bad.append(line)
print('\n'.join(bad), file=sys.stderr)
sys.exit(1 if bad else 0)
PY
}
narrow
# Ctrl-C ends everything.
kill -INT "$script"
wait "$script" || true
script=""
grep -q '^已停止：' "$out" || fail "Ctrl-C ended the demo without a word"
for _ in $(seq 150); do [ -z "$(leftovers)" ] && break; sleep 0.1; done
[ -z "$(leftovers)" ] || fail "processes left behind: $(ps -o pid,args -p "$(leftovers | paste -sd,)")"
[ ! -e "$line/db/data/postmaster.pid" ] || fail "the database server is still running"
echo "try-line: first boxes of both stations within $(( $(date +%s) - pressed )) s of Start"
