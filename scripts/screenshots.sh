#!/usr/bin/env bash
# The README's pictures, taken as a newcomer's first two minutes go: a program folder
# with the default config.ini (app/config.ini), the setup window as it opens, the
# prefixes Z and W typed and Start pressed, ten barcodes and three more scanned, one
# of them again. Written to build/screenshots/ and copied to docs/, with
# docs/pictures.txt saying which config.ini they were made from (a test compares it
# with app/config.ini, and the README's table with the window).
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir=$PWD

if [ -z "${SCREENSHOTS_INSIDE_X:-}" ]; then
  cmake --build build --target zantrel scanner-sim >/dev/null
  export SCREENSHOTS_INSIDE_X=1
  exec xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" bash "$0" "$@"
fi

if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
  export XDG_RUNTIME_DIR="/tmp/runtime-$(id -u)"
  mkdir -p -m 700 "$XDG_RUNTIME_DIR"
fi
out=$source_dir/build/screenshots
work=$(mktemp -d)
cleanup() {
  exec 3>&- 2>/dev/null || true
  [ -n "${station_pid:-}" ] && kill "$station_pid" 2>/dev/null || true
  [ -n "${scanner_pid:-}" ] && kill "$scanner_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "screenshots: $*" >&2; cat "$work/station.log" >&2 2>/dev/null; exit 1; }

cp build/station/zantrel "$work/"
cp -r build/station/sounds "$work/" 2>/dev/null || true
mkdir "$work/files"
cp app/config.ini "$work/config.ini"

mkfifo "$work/scans"
build/tools/scanner-sim --folder "$work" --port 1 <"$work/scans" 2>"$work/scanner.log" &
scanner_pid=$!
exec 3>"$work/scans"
for _ in $(seq 50); do [ -e "$work/COM1" ] && break; sleep 0.1; done
[ -e "$work/COM1" ] || fail "the scanner simulator did not link COM1"
"$work/zantrel" 2>"$work/station.log" &
station_pid=$!

windows() { xdotool search --onlyvisible --name '^Zantrel系统V1\.0$' 2>/dev/null || true; }
wait_windows() {
  for _ in $(seq 100); do [ "$(windows | wc -l)" -ge "$1" ] && return 0; sleep 0.1; done
  fail "expected $1 station windows"
}
mkdir -p "$out"
shot() { sleep 0.5; import -window "$2" "$out/$1.png"; }
key() { xdotool key --delay 30 "$@"; }
focused() {
  for _ in $(seq 100); do [ "$(xdotool getwindowfocus 2>/dev/null)" = "$1" ] && return 0; xdotool windowfocus "$1" 2>/dev/null; sleep 0.1; done
  fail "window $1 never got the focus"
}
journal=$work/open-box.txt
scanned() { # barcode [last of its box]: listed, or its box written
  for _ in $(seq 100); do
    if [ -n "${2:-}" ]; then
      ls "$work"/files/*.xls >/dev/null 2>&1 && ! grep -q '^pack ' "$journal" 2>/dev/null && return 0
    else
      grep -q "^pack $1\$" "$journal" 2>/dev/null && return 0
    fi
    sleep 0.1
  done
  fail "$1 was not listed"
}

wait_windows 1
setup=$(windows | head -n1)
focused "$setup"
shot frm_MAIN "$setup"

# As the README's two minutes say: 中箱前缀 Z, 外箱前缀 W, the rest as they are. The
# focus starts on Start; Tab runs 退出, 中箱前缀, 中箱后缀, 中箱包装数量, 外箱包装数量, 外箱前缀,
# 外箱后缀, 外箱序号长度, 中箱序号长度, 中箱序号, 外箱序号 and back to Start.
key Tab Tab; xdotool type --delay 20 Z
key Tab Tab Tab Tab; xdotool type --delay 20 W
key Tab Tab Tab Tab Tab Tab space
wait_windows 2
scan_window=$(windows | grep -vx "$setup" | head -n1)

for n in $(seq 1 13); do
  barcode=$(printf 'A%05d' "$n")
  echo "$barcode" >&3
  scanned "$barcode" "$([ "$n" = 10 ] && echo last)"
done
shot frm_SCAN "$scan_window"
echo A00013 >&3
message=""
for _ in $(seq 100); do
  message=$(xdotool search --onlyvisible --name '^Zantrel$' 2>/dev/null | head -n1 || true)
  [ -n "$message" ] && break
  sleep 0.1
done
[ -n "$message" ] || fail "no message for the repeated barcode"
shot message "$message"

mkdir -p docs
cp "$out/frm_MAIN.png" "$out/frm_SCAN.png" "$out/message.png" docs/
echo "config.ini $(sha256sum app/config.ini | cut -d' ' -f1)" >docs/pictures.txt
ls "$out"
