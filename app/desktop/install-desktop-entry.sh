#!/usr/bin/env bash
# Puts the station in the desktop's menu, started from this folder (where this
# script lies). Run it again after moving the folder.
set -euo pipefail
folder=$(cd "$(dirname "$0")" && pwd)
target="${XDG_DATA_HOME:-$HOME/.local/share}/applications"
mkdir -p "$target"
sed "s|@FOLDER@|$folder|g" "$folder/zantrel.desktop.in" > "$target/zantrel.desktop"
chmod 644 "$target/zantrel.desktop"
command -v update-desktop-database >/dev/null && update-desktop-database "$target" 2>/dev/null || true
echo "Zantrel is in the menu: $target/zantrel.desktop"
