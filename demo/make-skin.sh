#!/usr/bin/env bash
# Draws the demo skin into a folder: background, progress track and fill, close button, mask and
# icon, all PNG with alpha. The geometry matches demo/launcher.cfg.in.
#   demo/make-skin.sh OUT_DIR
set -euo pipefail
out=${1:?usage: make-skin.sh OUT_DIR}
mkdir -p "$out"

W=960 H=600
# Web panel (web_x, web_y, web_size_width, web_size_height) and the bar, as in launcher.cfg.in.
WX=568 WY=96 WW=360 WH=352
TRACK_W=880 TRACK_H=22 FILL_W=872 FILL_H=14

font() { fc-match -f '%{file}' "$1" 2>/dev/null || true; }
title_font=$(font 'DejaVu Serif:bold')
text_font=$(font 'DejaVu Sans')
title_args=() text_args=()
[ -n "$title_font" ] && title_args=(-font "$title_font")
[ -n "$text_font" ] && text_args=(-font "$text_font")

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# Night sky: a deep gradient, an ember glow low on the left, a sparse field of stars.
convert -size ${W}x${H} gradient:'#0a0f24'-'#2b1740' "$tmp/sky.png"
convert -size ${W}x${H} radial-gradient:'#ff7a2f'-none -alpha set -channel A -evaluate multiply 0.55 +channel \
  -resize 150%x150% -gravity southeast -crop ${W}x${H}+0+0 +repage "$tmp/glow.png"
stars=$(awk -v w=$W 'BEGIN { srand(42); for (i = 0; i < 140; i++) {
  x = int(rand() * w); y = int(rand() * 330);
  if (x > 36 && x < 470 && y > 40 && y < 270) continue; r = (rand() < 0.15) ? 1.4 : 0.7; a = 0.35 + rand() * 0.6;
  printf "fill rgba(255,244,225,%.2f) circle %d,%d %.1f,%d ", a, x, y, x + r, y } }')
convert -size ${W}x${H} xc:none -draw "$stars" "$tmp/stars.png"
# Two mountain ridges, the nearer one darker.
convert -size ${W}x${H} xc:none -fill '#1b1230' \
  -draw "polygon 0,430 90,360 170,395 260,318 350,380 430,340 520,400 600,350 700,410 800,356 890,392 960,370 960,600 0,600" \
  -fill '#0e0a1c' \
  -draw "polygon 0,470 120,420 230,452 330,410 450,465 560,430 660,470 780,438 880,468 960,445 960,600 0,600" \
  "$tmp/ridges.png"
# Footer band behind the progress bar.
convert -size ${W}x${H} xc:none -fill '#05060fcc' -draw "rectangle 0,478 ${W},${H}" \
  -fill '#f2c46d55' -draw "line 0,478 ${W},478" "$tmp/footer.png"

convert "$tmp/sky.png" "$tmp/glow.png" -composite "$tmp/stars.png" -composite "$tmp/ridges.png" -composite \
  "$tmp/footer.png" -composite \
  "${title_args[@]}" -pointsize 54 -fill '#f6d58a' -stroke '#7a3b12' -strokewidth 1 \
  -annotate +48+110 'EMBERFALL' -stroke none \
  "${text_args[@]}" -pointsize 17 -fill '#d9cde8' -annotate +52+144 'Chronicles of the Ashen Coast' \
  -pointsize 14 -fill '#a99cc0' \
  -annotate +52+196 'Season 3 is live: the Lantern Isles open,' \
  -annotate +52+218 'new guild halls, and a tide that remembers.' \
  -fill '#f2c46d' -annotate +52+254 'Patch notes  ›' \
  "$tmp/composed.png"

# Rounded window corners through the alpha channel, and a hairline frame.
convert -size ${W}x${H} xc:none -fill white -draw "roundrectangle 0,0 $((W - 1)),$((H - 1)) 18,18" "$tmp/shape.png"
convert "$tmp/composed.png" "$tmp/shape.png" -alpha off -compose CopyOpacity -composite \
  -fill none -stroke '#f2c46d66' -strokewidth 1 -draw "roundrectangle 0,0 $((W - 1)),$((H - 1)) 18,18" \
  "PNG32:$out/bg.png"

# Progress track: a dark rounded channel with an inner rim.
convert -size ${TRACK_W}x${TRACK_H} xc:none -fill '#0b0b16e6' -stroke '#f2c46d80' -strokewidth 1 \
  -draw "roundrectangle 0,0 $((TRACK_W - 1)),$((TRACK_H - 1)) 10,10" "PNG32:$out/process_bg.png"
# Progress fill: ember to gold, with a highlight along the top.
convert -size ${FILL_H}x${FILL_W} gradient:'#ffd36e'-'#ff6a2b' -rotate 90 "$tmp/fill.png"
convert -size ${FILL_W}x${FILL_H} xc:none -fill white -draw "roundrectangle 0,0 $((FILL_W - 1)),$((FILL_H - 1)) 6,6" \
  "$tmp/fillshape.png"
convert "$tmp/fill.png" "$tmp/fillshape.png" -alpha off -compose CopyOpacity -composite \
  -fill '#ffffff40' -draw "rectangle 6,2 $((FILL_W - 7)),4" "PNG32:$out/process.png"

# Close button: a soft disc with a cross.
convert -size 28x28 xc:none -fill '#ffffff1f' -stroke '#f2c46d99' -strokewidth 1 -draw 'circle 13.5,13.5 13.5,1' \
  -stroke '#f4e9d8' -strokewidth 2 -draw 'line 9,9 18,18' -draw 'line 18,9 9,18' "PNG32:$out/close.png"

# Mask over everything, clicks pass through: a gilt rim around the login panel, the rest clear.
convert -size ${W}x${H} xc:none -fill none -stroke '#f2c46d8c' -strokewidth 2 \
  -draw "roundrectangle $((WX - 3)),$((WY - 3)) $((WX + WW + 2)),$((WY + WH + 2)) 52,52" "PNG32:$out/mask.png"

# Icon for the menu entry and the shortcut.
convert -size 64x64 radial-gradient:'#ffb347'-'#7a2a0c' "$tmp/iconbg.png"
convert -size 64x64 xc:none -fill white -draw 'roundrectangle 0,0 63,63 14,14' "$tmp/iconshape.png"
convert "$tmp/iconbg.png" "$tmp/iconshape.png" -alpha off -compose CopyOpacity -composite \
  "${title_args[@]}" -pointsize 40 -fill '#fff4dc' -gravity center -annotate +0+2 'E' "PNG32:$out/icon.png"
