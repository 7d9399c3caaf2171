#!/usr/bin/env bash
# A line of two stations recording into one database, to look at: a throwaway
# PostgreSQL server in build/line/db, two program folders build/line/a and
# build/line/b, each with a scanner simulator that scans a pack every two seconds
# (what arrives before Start opens the port is thrown away, as on a real line).
# The line's state is printed when it changes (a line a station, from zantrel-db
# status), with the board's address. Ctrl-C ends it all and says what it stopped; the
# folders stay for a look (remove build/line to start afresh). It speaks Chinese, and
# its lines fit 80 columns; the technicians' logs are in build/line/*.log.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
bash scripts/install-deps.sh
line=$here/build/line
mkdir -p "$line"
echo "正在编译（记录在 build/line/build.log）…"
{ cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    && cmake --build build -j"$(nproc)" --target zantrel scanner-sim zantrel-db zantrel-find zantrel-board; } \
  >"$line/build.log" 2>&1 || { tail -n 30 "$line/build.log" >&2; exit 1; }
[ "$(id -u)" -eq 0 ] && chmod 755 "$line"
# What Qt needs and a bare machine lacks; without it Qt says so in English.
if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
  export XDG_RUNTIME_DIR="/tmp/runtime-$(id -u)"
  mkdir -p -m 700 "$XDG_RUNTIME_DIR"
fi
db=$(bash scripts/plant-server.sh start "$line/db" build/station/zantrel-db 2>"$line/db-init.log") \
  || { cat "$line/db-init.log" >&2; exit 1; }
# The connection string, long with its folder, as a short variable for the commands below.
printf "db='%s'\n" "$db" >"$line/db.env"
pids=()
stopped=""
finish() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  bash scripts/plant-server.sh stop "$line/db"
  [ -n "$stopped" ] && echo "$stopped"
}
trap finish EXIT
trap 'stopped="已停止：两个工位、扫描枪模拟器、看板和数据库服务器。build/line 保留。"; exit 130' INT TERM

launch=()
own_screen=1
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "没有显示器：两个工位各在一个虚拟屏幕上运行（xvfb-run）。"
  launch=(xvfb-run -a)
  own_screen=0
fi

fail() { echo "try-line：$*" >&2; exit 1; }
started() { # pid what: the program is still running a moment after its start
  for _ in $(seq 20); do kill -0 "$1" 2>/dev/null || fail "$2未能启动"; sleep 0.1; done
}

for s in a b; do
  folder=$line/$s
  mkdir -p "$folder/files"
  cp build/station/zantrel "$folder/"
  cp -r build/station/sounds "$folder/" 2>/dev/null || true
  if [ ! -e "$folder/config.ini" ]; then
    printf '[length]\r\nnlen=8;\r\nzlen=3;\r\nwlen=3;\r\n[com]\r\nComPort1=1;\r\n[cf]\r\ncf=0;\r\n[waittime]\r\nstime=60;\r\n[db]\r\nurl=%s user=line3;\r\nstation=line3-%s;\r\n' \
      "$db" "$s" > "$folder/config.ini"
  else
    sed -i "s|^url=.*|url=$db user=line3;\r|" "$folder/config.ini"
  fi
  # A pack every two seconds, from now on; the station throws away what arrived
  # before its scan window opened the port.
  prefix=$(echo "$s" | tr a-z A-Z)
  ( n=0; while sleep 2; do n=$((n + 1)); printf '%s%05d\n' "$prefix" "$n"; done ) \
    | build/tools/scanner-sim --folder "$folder" --port 1 2>"$line/scanner-$s.log" &
  pids+=($!)
  started $! "工位 $s 的扫描枪模拟器"
  # On one screen the two stations stand side by side (their windows open where the
  # setup window is).
  place=()
  [ "$own_screen" = 1 ] && place=(-qwindowgeometry "+$([ "$s" = a ] && echo 0 || echo 680)+0")
  (cd "$folder" && exec "${launch[@]}" ./zantrel "${place[@]}" 2>"$line/station-$s.log") &
  pids+=($!)
  started $! "工位 $s "
done

cat <<MSG

两个工位已启动，各有一个窗口（程序文件夹 build/line/a 和 build/line/b），
记录到同一个数据库。

  1. 在每个窗口中按“开始”。扫描枪每两秒送来一个内包。
  2. 按“开始”约 20 秒后（十个内包），第一个外箱写入工位的工作簿，
     同时记入数据库；之后每 20 秒一箱。
  3. 在另一个终端查一个内包，或看整条线：

       cd $here
       . build/line/db.env
       build/station/zantrel-find --db "\$db user=board" A00003
       build/station/zantrel-db status "\$db user=board"

按 Ctrl-C 结束工位、看板和数据库服务器。
MSG

# The line's board, on this machine only; its address once it answers.
build/station/zantrel-board --db "$db user=board" --listen 127.0.0.1:8765 >"$line/board.out" 2>"$line/board.log" &
pids+=($!)
board_pid=$!
for _ in $(seq 100); do
  grep -q '^http://' "$line/board.out" 2>/dev/null && break
  kill -0 "$board_pid" 2>/dev/null || { cat "$line/board.log" >&2; fail "看板未能启动"; }
  sleep 0.1
done
grep -q '^http://' "$line/board.out" || fail "看板没有应答"
board=$(head -n1 "$line/board.out")
echo
echo "  4. 看板：$board"
echo

# The line's state, a line a station, printed only when it changed.
last=""
while sleep 2; do
  now=$(build/station/zantrel-db status "$db user=board" 2>>"$line/status.log" \
        | awk -F'\t' 'NR > 1 { printf "  %s：今日 %s 箱，最后 %s（等待上传 %s）\n", $1, $2, $3, $6 }') || true
  [ -n "$now" ] && [ "$now" != "$last" ] || continue
  last=$now
  echo "$(date +%H:%M:%S) 线上状态："
  echo "$now"
  echo "  看板 $board"
done
