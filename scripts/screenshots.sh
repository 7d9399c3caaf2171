#!/usr/bin/env bash
# Pictures of the setup window, the scan window with scans listed, and a message box,
# taken on a virtual screen with the Chinese captions rendered. Written to build/screenshots/;
# the README shows the copies under docs/.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --build build --target zantrel scanner-sim >/dev/null
SCREENSHOT_DIR="$PWD/build/screenshots" bash tests/e2e/station_e2e.sh build .
ls build/screenshots
mkdir -p docs
cp build/screenshots/frm_MAIN.png build/screenshots/frm_SCAN.png build/screenshots/message.png docs/
