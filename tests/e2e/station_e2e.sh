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
  exec xvfb-run -a -s "-screen 0 1280x1024x24" bash "$0" "$@"
fi

work=$(mktemp -d)
cleanup() {
  exec 3>&- 2>/dev/null || true
  [ -n "${station_pid:-}" ] && kill "$station_pid" 2>/dev/null || true
  [ -n "${scanner_pid:-}" ] && kill "$scanner_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "E2E FAILED: $*" >&2; exit 1; }

# A program folder of our own: the program's folder is the executable's.
cp "$build/station/zantrel" "$work/"
mkdir "$work/files"
printf '[length]\r\nnlen=8;\r\nzlen=3;\r\nwlen=4;\r\n[com]\r\nComPort1=1;\r\n[cf]\r\ncf=0;\r\n[waittime]\r\nstime=60;\r\n' > "$work/config.ini"

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

wait_windows 1
setup=$(windows | head -n1)
xdotool windowfocus --sync "$setup"
sleep 0.5
shot frm_MAIN "$setup"

# The focus starts on Start; Tab runs cmdCancel, Text2, Text3, Text5, Text6, Text7, Text8,
# Text1, Text4, Text9, Text10 and back to cmdOK. A line edit reached by Tab selects its text.
key Tab Tab;  typed "Z"        # Text2  middle prefix
key Tab                        # Text3  middle suffix stays empty
key Tab;      typed "2"        # Text5  packs per middle box
key Tab;      typed "4"        # Text6  packs per outer box
key Tab;      typed "W"        # Text7  outer prefix
key Tab                        # Text8
key Tab;      typed "5"        # Text1  outer digits, saved, used from the next start on
key Tab                        # Text4
key Tab;      typed "1"        # Text9  next middle-box number
key Tab;      typed "7"        # Text10 next outer-box number
key Tab space                  # Start

wait_windows 2
grep -q $'wlen=5;\r' "$work/config.ini" || fail "Start did not save wlen as typed"
scan_window=$(windows | grep -vx "$setup" | head -n1)

today=$(date +%Y%m%d)
book="$work/files/$today.xls"
for b in A00001 A00002 A00003 A00004; do echo "$b" >&3; sleep 0.3; done
for _ in $(seq 100); do [ -e "$book" ] && break; sleep 0.1; done
[ -e "$book" ] || fail "the first full box did not reach $book"

# A repeat is refused with a message, answered with the keyboard.
echo A00005 >&3; sleep 0.3
echo A00005 >&3
message=""
for _ in $(seq 100); do
  message=$(xdotool search --onlyvisible --name '^Zantrel$' 2>/dev/null | head -n1 || true)
  [ -n "$message" ] && break; sleep 0.1
done
[ -n "$message" ] || fail "no message for the repeated barcode"
shot message "$message"
xdotool windowfocus --sync "$message"; sleep 0.3; key Return
for _ in $(seq 50); do xdotool search --onlyvisible --name '^Zantrel$' >/dev/null 2>&1 || break; sleep 0.1; done
echo A00006 >&3; sleep 0.3
shot frm_SCAN "$scan_window"
echo A00007 >&3; sleep 0.3
echo A00008 >&3; sleep 1

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

# Exit on the scan window (it holds the focus) ends the whole program.
xdotool windowfocus --sync "$scan_window"; sleep 0.3
key Tab Tab Tab space
for _ in $(seq 50); do kill -0 "$station_pid" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$station_pid" 2>/dev/null; then fail "Exit did not end the program"; fi
station_pid=""
echo "E2E passed: 2 boxes in $today.xls"
