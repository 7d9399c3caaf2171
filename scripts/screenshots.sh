#!/usr/bin/env bash
# Pictures of the setup window, the scan window with scans listed, and a message box,
# taken on a virtual screen with the Chinese captions rendered. Written to build/screenshots/.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --build build --target zantrel scanner-sim >/dev/null
SCREENSHOT_DIR="$PWD/build/screenshots" bash tests/e2e/station_e2e.sh build .
ls build/screenshots
