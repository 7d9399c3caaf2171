#!/usr/bin/env bash
# The real program on a virtual screen, driven with real key events: fill the setup
# window through its Tab order, press Start, scan from a pseudo-terminal scanner, and
# check the workbook on disk. With SCREENSHOT_DIR set, pictures of both windows are saved.
#   station_e2e.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
source_dir=$(cd "$2" && pwd)

if [ -z "${E2E_INSIDE_X:-}" ]; then
  export E2E_INSIDE_X=1
  exec xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" bash "$0" "$@"
fi

work=$(mktemp -d)
cleanup() {
  exec 3>&- 2>/dev/null || true
  [ -n "${station_pid:-}" ] && kill "$station_pid" 2>/dev/null || true
  [ -n "${scanner_pid:-}" ] && kill "$scanner_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "E2E FAILED: $*" >&2; cat "$work/station.log" >&2 2>/dev/null; exit 1; }

# A program folder of our own: the program's folder is the executable's.
cp "$build/station/zantrel" "$work/"
mkdir "$work/files"
printf '[length]\r\nnlen=8;\r\nzlen=3;\r\nwlen=4;\r\n[com]\r\nComPort1=1;\r\n[cf]\r\ncf=0;\r\nscope=day;\r\n[waittime]\r\nstime=60;\r\n' > "$work/config.ini"

# The scanner: every line written to fd 3 becomes one scan.
mkfifo "$work/scans"
"$build/tools/scanner-sim" --folder "$work" --port 1 < "$work/scans" 2>"$work/scanner.log" &
scanner_pid=$!
exec 3>"$work/scans"
for _ in $(seq 50); do [ -e "$work/COM1" ] && break; sleep 0.1; done
[ -e "$work/COM1" ] || fail "the scanner simulator did not link COM1"

"$work/zantrel" 2>"$work/station.log" &
station_pid=$!

windows() { xdotool search --onlyvisible --name '^Zantrel系统V1\.0$' 2>/dev/null || true; }
wait_windows() { # count
  for _ in $(seq 100); do [ "$(windows | wc -l)" -ge "$1" ] && return 0; sleep 0.1; done
  fail "expected $1 station windows"
}
shot() { # name window
  [ -n "${SCREENSHOT_DIR:-}" ] || return 0
  mkdir -p "$SCREENSHOT_DIR"
  sleep 0.5
  import -window "$2" "$SCREENSHOT_DIR/$1.png"
}
key() { xdotool key --delay 30 "$@"; }
typed() { xdotool type --delay 20 "$1"; }

focused() { # window: wait until it has the keyboard focus
  for _ in $(seq 100); do [ "$(xdotool getwindowfocus 2>/dev/null)" = "$1" ] && return 0; xdotool windowfocus "$1" 2>/dev/null; sleep 0.1; done
  fail "window $1 never got the focus"
}

wait_windows 1
setup=$(windows | head -n1)
focused "$setup"
shot frm_MAIN "$setup"

# The focus starts on Start; Tab runs cmdCancel, Text2, Text3, Text5, Text6, Text7, Text8,
# Text1, Text4, Text9, Text10 and back to cmdOK. A line edit reached by Tab selects its text.
fill_setup() {
  key Tab Tab;  typed "Z"        # Text2  middle prefix
  key Tab                        # Text3  middle suffix stays empty
  key Tab;      typed "2"        # Text5  packs per middle box
  key Tab;      typed "4"        # Text6  packs per outer box
  key Tab;      typed "W"        # Text7  outer prefix
  key Tab                        # Text8
  key Tab;      typed "5"        # Text1  outer digits, saved, used from the next start on
  key Tab                        # Text4
  key Tab;      typed "1"        # Text9  next middle-box number
  key Tab;      typed "${1:-7}"  # Text10 next outer-box number
  key Tab space                  # Start
}
fill_setup

wait_windows 2
grep -q $'wlen=5;\r' "$work/config.ini" || fail "Start did not save wlen as typed"
scan_window=$(windows | grep -vx "$setup" | head -n1)

today=$(date +%Y%m%d)
book="$work/files/$today.xls"
journal="$work/open-box.txt"
# Each scan is sent once the previous one is handled: its change is in the journal.
until_journal() { # grep-pattern [absent]
  for _ in $(seq 100); do
    if [ -z "${2:-}" ]; then grep -q -- "$1" "$journal" 2>/dev/null && return 0
    else grep -q -- "$1" "$journal" 2>/dev/null || return 0; fi
    sleep 0.1
  done
  if [ -n "${2:-}" ]; then fail "the journal kept '$1': $(cat "$journal")"; fi
  fail "the journal never showed '$1': $(cat "$journal" 2>&1)"
}
scan() { echo "$1" >&3; until_journal "^pack $1\$"; }
scan_last() { echo "$1" >&3; until_journal "^pack " absent; } # the box goes to the workbook
message_window() {
  for _ in $(seq 100); do
    m=$(xdotool search --onlyvisible --name '^Zantrel$' 2>/dev/null | head -n1 || true)
    [ -n "$m" ] && { echo "$m"; return 0; }
    sleep 0.1
  done
  return 1
}
answer() { # key: a message or question is answered with the keyboard
  m=$(message_window) || fail "no message window"
  xdotool windowfocus --sync "$m"; key "$1"
  # Another message may follow at once: wait for this one to go.
  for _ in $(seq 50); do xdotool search --onlyvisible --name '^Zantrel$' 2>/dev/null | grep -qx "$m" || return 0; sleep 0.1; done
  fail "the message window did not close"
}

scan A00001; scan A00002; scan A00003; scan_last A00004
[ -e "$book" ] || fail "the first full box did not reach $book"

# A repeat is refused with a message, answered with the keyboard.
scan A00005
echo A00005 >&3
m=$(message_window) || fail "no message for the repeated barcode"
shot message "$m"
answer Return
scan A00006
shot frm_SCAN "$scan_window"
scan A00007; scan_last A00008

expected='["", "W0007", "|Z001", "||A00001", "||A00002", "|Z002", "||A00003", "||A00004", "W0008", "|Z003", "||A00005", "||A00006", "|Z004", "||A00007", "||A00008"]'
actual=$(/usr/bin/python3 - "$book" <<'PY'
import json, sys, xlrd
sheet = xlrd.open_workbook(sys.argv[1]).sheet_by_index(0)
rows = []
for r in range(sheet.nrows):
    cells = [str(v) for v in sheet.row_values(r)]
    while cells and cells[-1] == "":
        cells.pop()
    rows.append("|".join(cells))
print(json.dumps(rows))
PY
)
[ "$actual" = "$expected" ] || fail "workbook rows differ: $actual"

# A pack of an earlier box of the day, scanned first into a new box: refused, and the
# new box's label rows go with it (no box without packs, no number used up).
echo A00001 >&3
answer Return
until_journal "^outer " absent
[ "$(grep '^numbers' "$journal" | tail -n1)" = "numbers 5 9" ] || fail "the refused scan moved the running numbers: $(cat "$journal")"

# Half a box, then the station is killed: the next Start offers the box back.
scan A00009; scan A00010
kill -9 "$station_pid"; wait "$station_pid" 2>/dev/null || true
"$work/zantrel" 2>>"$work/station.log" &
station_pid=$!
wait_windows 1
setup=$(windows | head -n1)
xdotool windowfocus --sync "$setup"
fill_setup                     # the same job again; its numbers come from the kept box
answer Return                  # 继续, the default
answer Return                  # the box goes on with its own outer digit count (4), not the 5 saved since
wait_windows 2
grep -q $'wlen=5;\r' "$work/config.ini" || fail "继续 saved the kept box's digit count over the one typed"
scan_window=$(windows | grep -vx "$setup" | head -n1)

# A second copy in the same folder refuses and ends, touching nothing.
before=$(md5sum "$work/config.ini" "$journal" "$book")
"$work/zantrel" 2>>"$work/station.log" &
second_pid=$!
answer Return
for _ in $(seq 50); do kill -0 "$second_pid" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$second_pid" 2>/dev/null; then fail "the second copy did not end"; fi
[ "$before" = "$(md5sum "$work/config.ini" "$journal" "$book")" ] || fail "the second copy changed files"

scan A00011
cp "$journal" "$work/journal-before-last"
scan_last A00012
rows=$(/usr/bin/python3 - "$book" <<'PY'
import sys, xlrd
sheet = xlrd.open_workbook(sys.argv[1]).sheet_by_index(0)
print(" ".join(str(v) for r in range(15, sheet.nrows) for v in sheet.row_values(r) if v != ""))
PY
)
[ "$rows" = "W0009 Z005 A00009 A00010 Z006 A00011 A00012" ] || fail "the continued box reads: $rows"

# Exit on the scan window (it holds the focus) ends the whole program.
xdotool windowfocus --sync "$scan_window"
key Tab Tab Tab space
for _ in $(seq 50); do kill -0 "$station_pid" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$station_pid" 2>/dev/null; then fail "Exit did not end the program"; fi
station_pid=""

# As if killed right after the workbook took that box, before the journal was emptied: the
# journal holds the box, its last scan, and where its export was going. The next Start finds
# the box in the workbook: it tells so once, asks nothing and writes nothing again.
{ cat "$work/journal-before-last"; printf 'pack A00012\npending 1\nexport 16 files/%s.xls\n' "$today"; } > "$journal"
book_before=$(md5sum < "$book")
"$work/zantrel" 2>>"$work/station.log" &
station_pid=$!
wait_windows 1
setup=$(windows | head -n1)
xdotool windowfocus --sync "$setup"
fill_setup 10
answer Return                  # "上次的外箱 W0009 已写入 …，无需重新写入。"
wait_windows 2
until_journal "^pack " absent
until_journal "^pending " absent
[ "$book_before" = "$(md5sum < "$book")" ] || fail "the box found in the workbook was written again"
[ -z "$(ls "$work/files" | grep unfinished || true)" ] || fail "the box found in the workbook was kept a second time"

# The day's workbook replaced by a pipe: the full box is told as not written and kept,
# the window goes on answering, and the box lands once the pipe is gone.
mv "$book" "$work/book-aside.xls"
mkfifo "$book"
scan A00013; scan A00014; scan A00015
echo A00016 >&3
answer Return                  # 无法写入工作簿 …：是管道（FIFO），不是文件
until_journal "^pending 1$"
echo A00017 >&3                # refused while the box waits: told again, nothing listed
answer Return
rm "$book"; mv "$work/book-aside.xls" "$book"
echo A00018 >&3                # the box goes out first, then this pack opens the next box
until_journal "^pack A00018$"
rows=$(/usr/bin/python3 - "$book" <<'PY'
import sys, xlrd
sheet = xlrd.open_workbook(sys.argv[1]).sheet_by_index(0)
print(" ".join(str(v) for r in range(22, sheet.nrows) for v in sheet.row_values(r) if v != ""))
PY
)
# A new run: the outer digit count typed and saved (5) labels its boxes.
[ "$rows" = "W00010 Z001 A00013 A00014 Z002 A00015 A00016" ] || fail "the box kept through the pipe reads: $rows"
echo "E2E passed: 4 boxes in $today.xls, one continued after a kill, one found written, one kept through a pipe"
