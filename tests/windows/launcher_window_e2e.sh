#!/usr/bin/env bash
# veltrano.exe under wine on the X display in DISPLAY, against the Linux veltrano-devserver, read from
# screenshots: the skin with its transparent parts, the close button, the bar full after the update
# and the mask on top. A click on the close button (through the mask) reports 1014 and the closing
# notice reaches the portal's window (another process) with the exact record before the launcher
# ends; dragging moves the stack; a copy-data message quits only with the configured type; a failed
# update shows the message.
#   launcher_window_e2e.sh <veltrano-devserver> <veltrano-pack> <veltrano.exe> <win_helper.exe> <wine>
set -euo pipefail
devserver=$1 pack=$2 launcher=$3 helper=$4 wine=$5

if [ -z "${DISPLAY:-}" ]; then
  echo "no X display: scripts/test-windows.sh starts one for the window tests" >&2
  exit 1
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/veltrano-win-window-XXXXXX")
pids=()
cleanup() {
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
# Waits for a condition (a command), polling; false when it never held.
wait_for() {
  local seconds=$1
  shift
  local end=$((SECONDS + seconds))
  while [ $SECONDS -lt $end ]; do
    "$@" && return 0
    sleep 0.2
  done
  "$@"
}

# Skin and portal colours, far apart so a pixel tells which part it belongs to.
BG=c03030 TRACK=303030 FILL=20c020 CLOSE=3030c0 MASK=ffff00 PORTAL=0080ff
W=640 H=400
TRACK_X=100 TRACK_Y=340 TRACK_W=420 TRACK_H=30 FILL_W=400 FILL_H=20
CLOSE_X=590 CLOSE_Y=10 CLOSE_W=30 CLOSE_H=30
# A hole through the background, and a mask mark laid over the middle of the close button.
HOLE_X=500 HOLE_Y=220 HOLE_W=80 HOLE_H=80
MARK_X=600 MARK_Y=20 MARK_W=10 MARK_H=10
FILL_X=$((TRACK_X + (TRACK_W - FILL_W) / 2)) FILL_Y=$((TRACK_Y + (TRACK_H - FILL_H) / 2))

install=$work/install
res=$install/res
mkdir -p "$res" "$work/game" "$work/server" "$work/portal"
convert -size ${W}x${H} xc:"#$BG" \( -size ${HOLE_W}x${HOLE_H} xc:none \) -geometry +$HOLE_X+$HOLE_Y \
  -compose Copy -composite "PNG32:$res/bg.png"
convert -size ${TRACK_W}x${TRACK_H} xc:"#$TRACK" "PNG32:$res/process_bg.png"
convert -size ${FILL_W}x${FILL_H} xc:"#$FILL" "PNG32:$res/process.png"
convert -size ${CLOSE_W}x${CLOSE_H} xc:"#$CLOSE" "PNG32:$res/close.png"
convert -size ${W}x${H} xc:none -fill "#$MASK" -draw "rectangle 0,0 19,19" \
  -draw "rectangle $MARK_X,$MARK_Y $((MARK_X + MARK_W - 1)),$((MARK_Y + MARK_H - 1))" "PNG32:$res/mask.png"

printf 'demo data\n' >"$work/game/data.txt"
"$pack" --game "$work/game" --version 1.0.1 --out-dir "$work/server" >/dev/null

"$devserver" --root "$work/server" >"$work/devserver.out" 2>"$work/devserver.err" &
pids+=($!)
base=""
wait_for 30 test -s "$work/devserver.out" || { cat "$work/devserver.err" >&2; exit 1; }
base=$(head -n 1 "$work/devserver.out")

config() {
  local ver=$1
  cat <<EOF
{"ver_url":"$base$ver","ver_src_url":"$base$ver","game_url":"$base/","game_src_url":"$base/",
 "game_dir":"game","game_exe_name":"game.exe","report_url":"$base/report","web_url":"$base/page.html",
 "app_name":"Veltrano UI","win_width":$W,"win_height":$H,
 "process_x":$TRACK_X,"process_y":$TRACK_Y,"process_bg_width":$TRACK_W,"process_bg_height":$TRACK_H,
 "process_width":$FILL_W,"process_height":$FILL_H,
 "close_btn_x":$CLOSE_X,"close_btn_y":$CLOSE_Y,"close_btn_width":$CLOSE_W,"close_btn_height":$CLOSE_H,
 "download_text_x":100,"download_text_y":300,"font_size":14,
 "font_color_r":255,"font_color_g":255,"font_color_b":255,
 "downlaod_text":["Checking %0.0f%%","Downloading %0.0f%% %s","Unpacking %0.0f%%","Done"],
 "error_text":"Update failed: %d","process_data_type":"777",
 "web_x":20,"web_y":60,"web_size_width":300,"web_size_height":200}
EOF
}

cp "$launcher" "$install/veltrano.exe"
launcher_pid=""
start_launcher() {
  config "$1" >"$install/launcher.cfg"
  shift
  # Reports stop once an installation has been recorded; every start here is to report.
  rm -f "$install/Install.log"
  "$wine" "$install/veltrano.exe" "$@" >"$work/launcher.out" 2>&1 &
  launcher_pid=$!
  pids+=("$launcher_pid")
}
launcher_ended() { ! kill -0 "$launcher_pid" 2>/dev/null; }

# The launcher's window on the screen: the owner window carries the title and the main window's place.
win_x="" win_y=""
locate_window() {
  local id geo
  for id in $(xdotool search --onlyvisible --name '^Veltrano UI$' 2>/dev/null); do
    geo=$(xdotool getwindowgeometry "$id" 2>/dev/null) || continue
    if grep -q "Geometry: ${W}x${H}" <<<"$geo"; then
      read -r win_x win_y < <(sed -n 's/.*Position: \([0-9-]*\),\([0-9-]*\).*/\1 \2/p' <<<"$geo")
      [ -n "$win_x" ] && return 0
    fi
  done
  return 1
}

shot=$work/shot.png
screenshot() { import -display "$DISPLAY" -window root "$shot"; }
# The colour at a point of the launcher window in the last screenshot, as rrggbb.
pixel() {
  convert "$shot" -format "%[hex:p{$((win_x + $1)),$((win_y + $2))}]" info: | cut -c1-6 | tr 'A-F' 'a-f'
}
near() {
  local a=$1 b=$2 i
  for i in 0 2 4; do
    local d=$((16#${a:$i:2} - 16#${b:$i:2}))
    [ ${d#-} -le 12 ] || return 1
  done
}
expect_pixel() {
  local what=$1 x=$2 y=$3 colour=$4 seen
  seen=$(pixel "$x" "$y")
  near "$seen" "$colour" || fail "$what at ($x,$y): $seen, expected $colour"
}
pixel_is() {
  screenshot
  near "$(pixel "$1" "$2")" "$3"
}
reports() { curl -s "$base/__reports"; }
has_report() { reports | grep -q "\"data_type\":\"$1\""; }
log() { cat "$install/Veltrano.log" 2>/dev/null || true; }

# ---- the portal's window, behind everything, receives the closing notice ----
"$wine" "$helper" portal "Z:$work/portal" "$PORTAL" >"$work/portal.out" 2>&1 &
portal_pid=$!
pids+=("$portal_pid")
wait_for 60 test -s "$work/portal/window.txt" || { echo "the portal window did not open" >&2; exit 1; }
portal_window=$(cat "$work/portal/window.txt")
portal_state() {
  kill -0 "$portal_pid" 2>/dev/null && echo "the portal runs" || echo "the portal ended: $(cat "$work/portal.out")"
}

# ---- first start: the update, the picture, the close button ----
start_launcher /version.json "--winid=$portal_window"
wait_for 120 locate_window || { echo "the launcher window never appeared" >&2; log >&2; exit 1; }
# Full bar: the last of the fill's pixels is drawn only once the finish has been seen.
if ! wait_for 120 pixel_is $((FILL_X + FILL_W - 1)) $((FILL_Y + FILL_H / 2)) "$FILL"; then
  fail "the bar never became full: $(pixel $((FILL_X + FILL_W - 1)) $((FILL_Y + FILL_H / 2)))"
  log | tail -25 >&2
fi
[ -f "$install/game/data.txt" ] || fail "the game was not installed"
screenshot
expect_pixel "background" 400 150 "$BG"
expect_pixel "background's hole shows the portal behind" $((HOLE_X + HOLE_W / 2)) $((HOLE_Y + HOLE_H / 2)) "$PORTAL"
near "$(pixel -5 100)" "$PORTAL" || portal_state >&2
expect_pixel "beside the window" -5 100 "$PORTAL"
expect_pixel "fill start" "$FILL_X" $((FILL_Y + 5)) "$FILL"
expect_pixel "track after the fill" $((FILL_X + FILL_W)) $((FILL_Y + 5)) "$TRACK"
expect_pixel "track" $((TRACK_X + 2)) $((TRACK_Y + 2)) "$TRACK"
expect_pixel "close button" $((CLOSE_X + 3)) $((CLOSE_Y + 3)) "$CLOSE"
expect_pixel "mask over the background" 5 5 "$MASK"
expect_pixel "mask over the close button" $((MARK_X + 5)) $((MARK_Y + 5)) "$MASK"
cp "$shot" "${VELTRANO_WINDOW_SHOT:-/dev/null}" 2>/dev/null || true

# Another copy-data type is no quit request: the closing below still runs in full.
"$wine" "$helper" copydata CVeltranoDlg 778 || fail "the main window took no copy-data message"

# Clicked on the mask's mark: only a click that passes the mask reaches the close button.
clicked=$(date +%s%N)
xdotool mousemove $((win_x + MARK_X + 5)) $((win_y + MARK_Y + 5)) click 1
if wait_for 60 test -s "$work/portal/message.bin"; then
  noticed=$(date +%s%N)
  waited=$(((noticed - clicked) / 1000000))
  [ "$waited" -ge 1900 ] || fail "the closing notice came ${waited} ms after the click, before the 2 s wait"
  read -r dw_data word_param <"$work/portal/message.bin"
  [ "$dw_data" = 1 ] || fail "closing notice dwData $dw_data, expected 1"
  [ "${word_param:-0}" != 0 ] || fail "the closing notice names no sender window"
  {
    printf '\001\000\000\000\061\000'
    head -c 518 /dev/zero
    printf '\001\000\000\000'
  } >"$work/expected.bin"
  tail -c +$(($(head -n 1 "$work/portal/message.bin" | wc -c) + 1)) "$work/portal/message.bin" >"$work/record.bin"
  cmp -s "$work/expected.bin" "$work/record.bin" ||
    fail "closing notice record differs: $(od -An -tx1 "$work/record.bin" | head -c 200)"
else
  fail "the portal never received the closing notice; $(portal_state)"
  log | tail -25 >&2
fi
wait_for 30 has_report 1014 || fail "no report 1014 for the closing"
wait_for 60 launcher_ended || fail "the launcher did not end after closing"
wait "$launcher_pid" || fail "the launcher ended with status $?"

# ---- second start: a copy-data quit of the configured type ends it without closing ----
curl -s -X DELETE "$base/__reports" >/dev/null
start_launcher /version.json
wait_for 120 locate_window || fail "the launcher window did not appear again"
# Its start report shows that reports reach the collector, so a missing closing report below counts.
wait_for 60 has_report 1001 || fail "no start report"
# Dragged by its background 30 pixels to the right, once it shows: the owner and the mask come along.
wait_for 60 pixel_is 400 150 "$BG" || fail "the main window did not show again"
start_x=$win_x start_y=$win_y
xdotool mousemove $((win_x + 400)) $((win_y + 150)) mousedown 1
for step in 1 2 3 4 5 6; do
  xdotool mousemove $((start_x + 400 + 5 * step)) $((start_y + 150))
  sleep 0.05
done
xdotool mouseup 1
moved() { locate_window && [ "$win_x" = $((start_x + 30)) ]; }
if wait_for 30 moved; then
  [ "$win_y" = "$start_y" ] || fail "the drag moved the window from y $start_y to $win_y"
  wait_for 30 pixel_is 5 5 "$MASK" || fail "the mask did not follow the drag: $(pixel 5 5)"
  screenshot
  expect_pixel "background after the drag" 400 150 "$BG"
  expect_pixel "close button after the drag" $((CLOSE_X + 3)) $((CLOSE_Y + 3)) "$CLOSE"
  near "$(pixel -25 100)" "$BG" && fail "the window's background stayed where its left edge was"
else
  fail "the drag did not move the launcher's owner window (at $win_x,$win_y, started at $start_x,$start_y)"
fi

wait_for 60 "$wine" "$helper" copydata CVeltranoDlg 777 || fail "the quit request was not delivered"
wait_for 60 launcher_ended || fail "the quit request did not end the launcher"
has_report 1014 && fail "a quit request sent the closing report"

# ---- third start: a failed update shows one message box and reports the error ----
start_launcher /missing.json
box_open() { [ -n "$(xdotool search --onlyvisible --name '^系统提示$' 2>/dev/null)" ]; }
wait_for 120 box_open || fail "no message box for the failed update"
wait_for 60 has_report 1101 || fail "no report 1101"
log | grep -q "error box: Update failed: 1101" || fail "the box does not show the error text"
[ "$(xdotool search --onlyvisible --name '^系统提示$' | wc -l)" = 1 ] || fail "more than one message box"
kill "$launcher_pid" 2>/dev/null || true

if [ "$failures" -gt 0 ]; then
  echo "$failures checks failed; the launcher's log:" >&2
  log | tail -25 >&2
  exit 1
fi
echo "the launcher window passed every check"
