#!/usr/bin/env bash
# The package as a user gets it: build the tarball, unpack it into a temporary
# folder, start the station from there on a virtual screen, put it in the menu.
#   package_test.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)

if [ -z "${PACKAGE_INSIDE_X:-}" ]; then
  export PACKAGE_INSIDE_X=1
  exec xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" bash "$0" "$@"
fi

work=$(mktemp -d)
cleanup() {
  [ -n "${station_pid:-}" ] && kill "$station_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "PACKAGE TEST FAILED: $*" >&2; exit 1; }

cmake --build "$build" --target package >/dev/null
tar -xzf "$build"/zantrel-*-linux-x86_64.tar.gz -C "$work"
folder=$(echo "$work"/zantrel-*)
for f in zantrel zantrel-find scanner-sim config.ini sounds/refused.wav sounds/box.wav zantrel.png \
         zantrel.desktop.in install-desktop-entry.sh; do
  [ -e "$folder/$f" ] || fail "the package lacks $f"
done
[ -d "$folder/files" ] || fail "the package lacks files/"

"$folder/zantrel" 2>"$work/station.log" &
station_pid=$!
for _ in $(seq 100); do
  xdotool search --onlyvisible --name '^Zantrel系统V1\.0$' >/dev/null 2>&1 && break
  sleep 0.1
done
xdotool search --onlyvisible --name '^Zantrel系统V1\.0$' >/dev/null 2>&1 || fail "the unpacked station shows no window: $(cat "$work/station.log")"
if flock -n "$folder" true; then fail "the station does not hold its folder's lock"; fi

set +e
"$folder/zantrel-find" --folder "$folder" A00001 >/dev/null 2>&1
status=$?
set -e
[ "$status" = 1 ] || fail "zantrel-find in an empty folder answered $status, not 1 (not found)"

XDG_DATA_HOME="$work/share" bash "$folder/install-desktop-entry.sh" >/dev/null
entry="$work/share/applications/zantrel.desktop"
grep -q "^Exec=\"$folder/zantrel\"$" "$entry" || fail "the menu entry does not start $folder/zantrel"
echo "package test passed: $folder"
