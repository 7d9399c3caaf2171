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

# What Qt needs and a bare machine lacks; without it Qt says so in English.
if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
  export XDG_RUNTIME_DIR="/tmp/runtime-$(id -u)"
  mkdir -p -m 700 "$XDG_RUNTIME_DIR"
fi

launch=(./zantrel)
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "没有显示器：工位程序在虚拟屏幕上运行（xvfb-run）。"
  launch=(xvfb-run -a ./zantrel)
fi

link="COM$port"
if [ -e "$link" ] && [[ "$(readlink -f "$link")" != /dev/pts/* ]]; then
  echo "扫描枪：$station/$link -> $(readlink -f "$link")"
  exec "${launch[@]}"
fi

# The scan window opens the port only when Start is pressed; the simulator is up by then.
"${launch[@]}" &
pid=$!
trap 'kill $pid 2>/dev/null || true' EXIT
cat <<MSG

工位程序已启动（程序文件夹 $station）。
没有扫描枪接在 $link 上，这个终端就是扫描枪：
  1. 在设置窗口中按“开始”；
  2. 在这里输入 $(( ${nlen:-8} - 2 )) 个字符的条码，按回车，每行一次扫描。
装满的外箱写入 $station/files/<日期>.xls。按 Ctrl-D 结束扫描枪和工位程序。

MSG
../tools/scanner-sim --folder . --port "$port"
