#!/usr/bin/env bash
# Sets up a Debian machine for the station (installs what is missing), builds it and
# starts it from its program folder build/station. When no real scanner is linked as
# the configured port, a scanner simulator takes that port and this terminal becomes
# the scanner: every line typed here is sent as one scan.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
cd "$here"
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target zantrel scanner-sim

station=build/station
cd "$station"
# The port number and barcode length the station will use, as config.ini says.
value() { sed -n "s/^[[:space:]]*$1[[:space:]]*=[[:space:]]*\([^;]*\).*/\1/p" config.ini | head -n1 | tr -d '\r '; }
port=$(value ComPort1); port=${port:-1}
nlen=$(value nlen)

launch=(./zantrel)
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display found: the station runs on a virtual screen (xvfb-run)."
  launch=(xvfb-run -a ./zantrel)
fi

link="COM$port"
if [ -e "$link" ] && [[ "$(readlink -f "$link")" != /dev/pts/* ]]; then
  echo "Scanner: $station/$link -> $(readlink -f "$link")"
  exec "${launch[@]}"
fi

# The scan window opens the port only when Start is pressed; the simulator is up by then.
"${launch[@]}" &
pid=$!
trap 'kill $pid 2>/dev/null || true' EXIT
cat <<MSG

The station is running (program folder $station).
No scanner is linked as $link, so this terminal is the scanner:
  1. press 开始 (Start) in the setup window;
  2. type a barcode of $(( ${nlen:-8} - 2 )) characters here and press Enter, one per scan.
Full outer boxes go to $station/files/<date>.xls. Ctrl-D ends the scanner and the station.

MSG
../tools/scanner-sim --folder . --port "$port"
