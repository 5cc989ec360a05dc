#!/usr/bin/env bash
# Screenshot of the splash as the user sees it, taken from the fixture's X display.
#   tools/splash_screenshot.sh [BUILD_DIR] [OUT.png] [DELAY_S] [debug]
# Runs splash_preview (win64 test build) and crops the screen around the
# centred window DELAY_S seconds (default 0.6: mid-animation) after it shows.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$top/build/win64}" && pwd)
out=${2:-$top/docs/splash.png}
delay=${3:-0.6}
mode=${4:-}
bash "$top/tools/wine-env.sh" start "$build" >/dev/null
export DISPLAY=":$(cat "$build/wine-display")"
"$build/wine-run.sh" "$build/splash_preview.exe" $mode </dev/null >/dev/null 2>&1 &
preview=$!
for _ in $(seq 200); do
  xdotool search --classname splash_preview >/dev/null 2>&1 && break
  sleep 0.05
done
sleep "$delay"
shot=$(mktemp --suffix=.png)
import -window root "$shot"
wait "$preview" || true
mkdir -p "$(dirname "$out")"
# The window is 200 x 200 at (860, 440) on the 1920 x 1080 display.
convert "$shot" -crop 240x240+840+420 +repage "$out"
rm -f "$shot"
echo "splash screenshot: $out"
