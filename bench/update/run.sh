#!/usr/bin/env bash
# Update benchmark: veltrano-update from no installation to finished (manifest, ranged download,
# digest, extraction, exchange) against the same work done by established tools in sequence
# (aria2c -x10 -s10, md5sum, unzip -q), both served by nginx on loopback. The two sides alternate
# (odd runs start with veltrano-update, even runs with the tools), and medians, spread and the
# phase breakdown of each side are printed.
#
# The figures mean something only on an otherwise idle machine: run it with nothing else running.
#
#   bench/update/run.sh [--build DIR] [--size-mib N] [--runs N] [--limit-rate RATE] [--keep]
#
# --build     build folder holding tools/veltrano-update and tools/veltrano-pack (default: build)
# --size-mib  size of the generated game (default: 1024)
# --runs      measured runs of each side (default: 5; fewer give no meaningful spread)
# --limit-rate  nginx's limit for each connection (e.g. 8m): a download bound by the network, as a
#             player's is, rather than by the machine (both sides use ten connections)
# --keep      keep the generated data (it lives in BUILD/bench-update and is deleted otherwise)
#
# With a windowed build it also runs bench_update_stall once: the longest gap between ticks of the
# window's 30 ms timer while the update engine runs on that loop; and bench_ui_idle --stall: the real
# window under Xvfb updating a game of the same size, pinged as a desktop does to find windows that
# do not respond.
#
# Needs: nginx, aria2c, md5sum, unzip, GNU time (/usr/bin/time), python3.
set -euo pipefail

repo=$(cd "$(dirname "$0")/../.." && pwd)
build="$repo/build"
size_mib=1024
runs=5
keep=0
limit_rate=""
while [ $# -gt 0 ]; do
    case "$1" in
        --build) build=$(cd "$2" && pwd); shift 2 ;;
        --size-mib) size_mib=$2; shift 2 ;;
        --runs) runs=$2; shift 2 ;;
        --limit-rate) limit_rate=$2; shift 2 ;;
        --keep) keep=1; shift ;;
        -h|--help) sed -n '2,24p' "$0"; exit 0 ;;
        *) echo "unknown argument $1" >&2; exit 1 ;;
    esac
done

update="$build/tools/veltrano-update/veltrano-update"
packer="$build/tools/veltrano-pack/veltrano-pack"
for tool in "$update" "$packer"; do
    [ -x "$tool" ] || { echo "missing $tool: build the targets veltrano-update and veltrano-pack first" >&2; exit 1; }
done
for tool in nginx aria2c md5sum unzip python3; do
    command -v "$tool" >/dev/null || [ -x "/usr/sbin/$tool" ] || { echo "missing $tool" >&2; exit 1; }
done
[ -x /usr/bin/time ] || { echo "missing GNU time (/usr/bin/time)" >&2; exit 1; }
nginx_bin=$(command -v nginx || echo /usr/sbin/nginx)

work="$build/bench-update"
nginx_pid=""
cleanup() {
    if [ -n "$nginx_pid" ]; then kill "$nginx_pid" 2>/dev/null || true; wait "$nginx_pid" 2>/dev/null || true; fi
    if [ "$keep" = 0 ]; then rm -rf "$work"; fi
}
trap cleanup EXIT
rm -rf "$work"
mkdir -p "$work"/{game,www,launcher,xdg,runtime,nginx,tools-out}
chmod 700 "$work/runtime"

echo "== generating a game of $size_mib MiB in $work/game"
python3 - "$work/game" "$size_mib" <<'PY'
import os, random, sys
root, size_mib = sys.argv[1], int(sys.argv[2])
total = size_mib << 20
rng = random.Random(20261208)
words = [("".join(rng.choice("abcdefghijklmnopqrstuvwxyz") for _ in range(rng.randint(3, 9)))).encode() for _ in range(2000)]
def compressible(n):
    # Text-like: words and numbers, deflates to roughly a third.
    out = bytearray()
    while len(out) < n:
        line = b" ".join(rng.choice(words) for _ in range(12)) + b" %d\n" % rng.randint(0, 10**6)
        out += line
    return bytes(out[:n])
written, index = 0, 0
while written < total:
    # Mixed sizes: many small files, some large ones.
    kind = rng.random()
    n = rng.randint(1 << 10, 64 << 10) if kind < 0.65 else rng.randint(64 << 10, 1 << 20) if kind < 0.98 else rng.randint(2 << 20, 16 << 20)
    n = min(n, total - written)
    folder = os.path.join(root, "pak%02d" % (index % 40), "sub%d" % (index % 7))
    os.makedirs(folder, exist_ok=True)
    # Half of the bytes compress, half are random.
    data = compressible(n) if index % 2 == 0 else os.urandom(n)
    with open(os.path.join(folder, "f%05d.dat" % index), "wb") as f:
        f.write(data)
    written += n
    index += 1
print("%d files, %d bytes" % (index, written))
PY
printf '#!/bin/sh\nexit 0\n' > "$work/game/run.sh"; chmod +x "$work/game/run.sh"

echo "== packing"
"$packer" --game "$work/game" --version 2.0.0 --out-dir "$work/www" --download-thread 10 >/dev/null
zip="$work/www/game-2.0.0.zip"
zip_bytes=$(stat -c %s "$zip")
entries=$(unzip -Z1 "$zip" | wc -l)
rm -rf "$work/game"
echo "archive: $zip_bytes bytes, $entries entries"

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1]); s.close()')
user_line=""
[ "$(id -u)" = 0 ] && user_line="user root;"
cat > "$work/nginx/nginx.conf" <<CONF
$user_line
worker_processes 2;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log;
events { worker_connections 256; }
http {
    access_log off;
    client_body_temp_path $work/nginx/body;
    proxy_temp_path $work/nginx/proxy;
    fastcgi_temp_path $work/nginx/fastcgi;
    uwsgi_temp_path $work/nginx/uwsgi;
    scgi_temp_path $work/nginx/scgi;
    sendfile on;
    ${limit_rate:+limit_rate $limit_rate;}
    server {
        listen 127.0.0.1:$port;
        root $work/www;
        location /report { return 204; }
    }
}
CONF
"$nginx_bin" -p "$work/nginx" -c "$work/nginx/nginx.conf" -g 'daemon off;' &
nginx_pid=$!
for _ in $(seq 50); do
    curl -fs "http://127.0.0.1:$port/version.json" >/dev/null 2>&1 && break
    sleep 0.1
done
base="http://127.0.0.1:$port"
cat > "$work/launcher/launcher.cfg" <<CFG
{"ver_url":"$base/version.json","ver_src_url":"$base/version.json","game_url":"$base/","game_src_url":"$base/",
 "game_dir":"game","game_exe_name":"run.sh","report_url":"$base/report","app_name":"bench"}
CFG

export XDG_DATA_HOME="$work/xdg" XDG_RUNTIME_DIR="$work/runtime"

# Runs veltrano-update under GNU time and stamps its JSON lines as they arrive; prints
# "seconds maxrss_kib manifest download digest extraction exchange" (phases in seconds).
cat > "$work/phases.py" <<'PY'
import json, subprocess, sys, time
timeout_file, argv = sys.argv[1], sys.argv[2:]
t0 = time.monotonic()
proc = subprocess.Popen(["/usr/bin/time", "-f", "%e %M", "-o", timeout_file] + argv,
                        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
marks = {}
seen = {}  # last progress line of each phase
for line in proc.stdout:
    now = time.monotonic() - t0
    try:
        e = json.loads(line)
    except ValueError:
        continue
    if e.get("event") == "phase":
        marks.setdefault(e["phase"], now)
    elif e.get("event") == "progress":
        seen[e.get("phase")] = now
        if e.get("phase") == "downloading" and e.get("total") and e.get("done") == e.get("total"):
            marks.setdefault("last byte", now)
        if e.get("phase") == "installing" and e.get("total") and e.get("done", -1) + 1 >= e["total"]:
            marks.setdefault("last entry", now)
    elif e.get("event") == "result":
        marks["result"] = now
        if e.get("code") != 0:
            sys.exit("veltrano-update failed: " + line.strip())
if proc.wait() != 0:
    sys.exit("veltrano-update exited with %d" % proc.returncode)
wall, rss = open(timeout_file).read().split()[:2]
def at(name, fallback):
    return marks.get(name, fallback)
download_at = at("downloading", 0.0)
# A download too short for a progress line with every byte counts wholly as download.
last_byte = at("last byte", at("installing", download_at))
install_at = at("installing", last_byte)
last_entry = at("last entry", seen.get("installing", install_at))
end = at("result", float(wall))
print(wall, rss, "%.3f %.3f %.3f %.3f %.3f" % (download_at, last_byte - download_at, install_at - last_byte,
                                               last_entry - install_at, end - last_entry))
PY

ours_total=(); ours_manifest=(); ours_download=(); ours_digest=(); ours_extract=(); ours_exchange=()
tools_total=(); tools_download=(); tools_digest=(); tools_extract=(); ratios=()
mem_ours=0
mem_tools=0
median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {print (NR%2) ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2}'; }
spread() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {printf "%.2f-%.2f", a[1], a[NR]}'; }
fresh_install() { rm -rf "$work/launcher/game" "$work/launcher/Install.log" "$work/launcher/Veltrano.log" "$work/xdg/veltrano" "$work/tools-out"; mkdir -p "$work/tools-out"; sync; }
measure() {  # prints "seconds maxrss_kib"
    /usr/bin/time -f '%e %M' -o "$work/time.out" "$@" >/dev/null 2>"$work/stderr.out" || { cat "$work/stderr.out" >&2; return 1; }
    cat "$work/time.out"
}
run_ours() {
    fresh_install
    local line
    line=$(python3 "$work/phases.py" "$work/time.out" "$update" --dir "$work/launcher" --json) \
        || { tail -5 "$work/launcher/Veltrano.log" >&2; exit 1; }
    read -r t m p1 p2 p3 p4 p5 <<<"$line"
    [ "$(cat "$work/launcher/game/version")" = 2.0.0 ] || { echo "veltrano-update did not install" >&2; exit 1; }
    ours_total+=("$t"); ours_manifest+=("$p1"); ours_download+=("$p2"); ours_digest+=("$p3")
    ours_extract+=("$p4"); ours_exchange+=("$p5")
    [ "$m" -gt "$mem_ours" ] && mem_ours=$m
    ours_line="veltrano-update $t s (manifest $p1, download $p2, digest $p3, extraction $p4, exchange+finish $p5)"
}
run_tools() {
    fresh_install
    read -r t1 m1 < <(measure aria2c -q -x10 -s10 -k1M --file-allocation=none --allow-overwrite=true \
        --auto-file-renaming=false -d "$work/tools-out" -o game.zip "$base/game-2.0.0.zip")
    read -r t2 m2 < <(measure md5sum "$work/tools-out/game.zip")
    read -r t3 m3 < <(measure unzip -q -o "$work/tools-out/game.zip" -d "$work/tools-out/game")
    total=$(echo "$t1 + $t2 + $t3" | bc -l)
    tools_total+=("$total"); tools_download+=("$t1"); tools_digest+=("$t2"); tools_extract+=("$t3")
    for m in $m1 $m2 $m3; do [ "$m" -gt "$mem_tools" ] && mem_tools=$m; done
    tools_line="aria2c $t1 s + md5sum $t2 s + unzip $t3 s = $total s"
}

echo "== this benchmark must run on an otherwise idle machine; load average now: $(cut -d' ' -f1-3 /proc/loadavg), $(nproc) cores"
[ "$runs" -ge 5 ] || echo "== note: $runs runs give no meaningful median or spread; use at least 5"
for run in $(seq "$runs"); do
    if [ $((run % 2)) = 1 ]; then run_ours; run_tools; order="ours first"; else run_tools; run_ours; order="tools first"; fi
    ratios+=("$(echo "${ours_total[-1]} / ${tools_total[-1]}" | bc -l)")
    echo "run $run ($order): $ours_line; $tools_line"
done

ours=$(median "${ours_total[@]}")
tools=$(median "${tools_total[@]}")
ratio=$(echo "$ours / $tools" | bc -l)
printf '\narchive                       %s MiB, %s entries, %s runs per side, alternating\n' "$((zip_bytes >> 20))" "$entries" "$runs"
[ -z "$limit_rate" ] || printf 'served at                     %s per connection\n' "$limit_rate"
printf 'veltrano-update (median)      %.2f s  (spread %s s)  peak RSS %d MiB\n' "$ours" "$(spread "${ours_total[@]}")" "$((mem_ours / 1024))"
printf '  manifest %.2f  download %.2f  digest after the last byte %.2f  extraction %.2f  exchange+finish %.2f (medians, s)\n' \
    "$(median "${ours_manifest[@]}")" "$(median "${ours_download[@]}")" "$(median "${ours_digest[@]}")" \
    "$(median "${ours_extract[@]}")" "$(median "${ours_exchange[@]}")"
printf 'aria2c+md5sum+unzip (median)  %.2f s  (spread %s s)  peak RSS %d MiB\n' "$tools" "$(spread "${tools_total[@]}")" "$((mem_tools / 1024))"
printf '  download %.2f  digest %.2f  extraction %.2f (medians, s)\n' \
    "$(median "${tools_download[@]}")" "$(median "${tools_digest[@]}")" "$(median "${tools_extract[@]}")"
printf 'ratio of medians              %.2f  (per-run ratios %s; goal: at most 0.5)\n' "$ratio" "$(spread "${ratios[@]}")"
echo "phases of veltrano-update are taken from its --json lines, which come at most 4 times a second: a"
echo "phase boundary is known to about 0.25 s; exchange+finish includes the finishing step's fixed 0.5 s wait."
stall="$build/bench/update/bench_update_stall"
if [ -x "$stall" ]; then
    fresh_install
    echo "main-loop stall during one update (the engine on a GLib loop with the window's 30 ms timer):"
    "$stall" --dir "$work/launcher" --download-dir "$work/xdg/veltrano" >/dev/null \
        || { tail -5 "$work/launcher/Veltrano.log" >&2; exit 1; }
else
    echo "main-loop stall: not measured ($stall is built only with -DVELTRANO_UI=ON)"
fi
window="$build/bench/ui-idle/bench_ui_idle"
if [ -x "$window" ]; then
    echo "the real window during one update of a game of the same size (window-manager pings, Xvfb):"
    "$window" --stall "$size_mib" || { echo "the window's update failed" >&2; exit 1; }
else
    echo "window stall: not measured ($window is built only with -DVELTRANO_UI=ON)"
fi
echo "load average at the end: $(cut -d' ' -f1-3 /proc/loadavg) (figures are valid only if nothing else ran)"
