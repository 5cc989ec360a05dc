#!/usr/bin/env bash
# The launcher's whole job on this machine: ./tools/demo.sh
#
# Builds the launcher with its manifest URL on a local vendor server, serves a
# manifest and the sample installer from 127.0.0.1:48080, and runs the
# launcher under wine64 in a fresh prefix: on your display when there is one,
# else on Xvfb with screenshots. First run: manifest, download, installer,
# which installs and registers the sample client. Second run: the launcher
# finds the client and starts it directly. Ends by itself with a report.
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
build=$top/build/demo
out=$build/demo-out
port=48080

step() { printf '\n== %s\n' "$*"; }
ok() { printf '   ok: %s\n' "$*"; }
bad() { printf '   FAILED: %s\n' "$*"; failures=$((failures + 1)); }
failures=0

step "Setup and build"
bash tools/setup.sh || exit 1
cmake --preset demo >/dev/null || exit 1
cmake --build --preset demo >/dev/null || { cmake --build --preset demo; exit 1; }
ok "built $build/PimbrelLauncher.exe (manifest URL http://127.0.0.1:$port/client/version.html)"

WINEPREFIX=$build/wineprefix /usr/lib/wine/wineserver -k 2>/dev/null
rm -rf "$out" "$build/wineprefix"
mkdir -p "$out/vendor/client" "$out/vendor/files"
cp "$build/pimbrel_sample_installer.exe" "$out/vendor/files/pimbrel_mini_setup.exe"
for name in version version_debug; do
  cat >"$out/vendor/client/$name.html" <<JSON
{
  "pc": {
    "version_name": "1.2.0",
    "app_file": "http://127.0.0.1:$port/files/pimbrel_mini_setup.exe"
  }
}
JSON
done

if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
  export PIMBREL_USE_DISPLAY=$DISPLAY
  where="your display $DISPLAY"
else
  unset PIMBREL_USE_DISPLAY
  where="Xvfb (screenshots in $out)"
fi
step "Fresh wine prefix on $where"
bash tools/wine-env.sh start "$build" >/dev/null || exit 1
trap 'bash tools/wine-env.sh stop "$build" >/dev/null 2>&1; [ -n "${server:-}" ] && kill "$server" 2>/dev/null' EXIT
export DISPLAY=":$(cat "$build/wine-display")"
prefix=$build/wineprefix
ok "prefix $prefix"

python3 tools/vendor_server.py --root "$out/vendor" --port $port --delay 1.2 --lifetime 300 \
  --log "$out/vendor.log" 2>"$out/vendor.err" &
server=$!
for _ in $(seq 50); do grep -q 'vendor server' "$out/vendor.err" 2>/dev/null && break; sleep 0.1; done
ok "vendor server on http://127.0.0.1:$port/ serving $out/vendor (installer body held 1.2 s, so the ring runs)"

export PIMBREL_DEMO_LOG="Z:$out/programs.log"
export PIMBREL_DEMO_CLOSE_MS=4000
shoot() { import -display "$DISPLAY" -window root "$1" 2>/dev/null && echo "$1"; }

step "First run: no client installed"
start=$(date +%s%N)
"$build/wine-run.sh" "$build/PimbrelLauncher.exe" >"$out/run1.stdout" 2>/dev/null &
launcher=$!
sleep 0.8; shot1=$(shoot "$out/splash-early.png")
sleep 0.8; shot2=$(shoot "$out/splash-late.png")
wait $launcher; code=$?
elapsed=$(( ($(date +%s%N) - start) / 1000000 ))
[ "$code" = 0 ] && ok "launcher exit code 0 after ${elapsed} ms" || bad "launcher exit code $code"
if grep -q "GET /client/version.html \"Mozilla/4.0 (compatible; MSIE 6.0;)\" 200" "$out/vendor.log"; then
  ok "manifest fetched: $(grep -c /client/version.html "$out/vendor.log") request(s) for /client/version.html"
else bad "manifest not fetched"; fi
installer="$prefix/drive_c/ProgramData/Pimbrel/Install/pimbrel_mini_1.2.0.exe"
if cmp -s "$installer" "$out/vendor/files/pimbrel_mini_setup.exe"; then
  ok "installer downloaded: C:\\ProgramData\\Pimbrel\\\\Install\\pimbrel_mini_1.2.0.exe ($(stat -c %s "$installer") bytes, same as served)"
else bad "installer not downloaded intact to $installer"; fi
echo "   trace lines on the launcher's stdout:"; sed 's/^/     /' "$out/run1.stdout" | tr -d '\r'
for _ in $(seq 100); do grep -q 'installer: installed' "$out/programs.log" 2>/dev/null && break; sleep 0.1; done
if grep -q 'installer: started' "$out/programs.log" 2>/dev/null; then
  ok "process started: $(grep 'installer: started' "$out/programs.log" | head -1 | sed 's/^installer: started, //')"
else bad "installer not started"; fi
grep -q 'installer: installed' "$out/programs.log" 2>/dev/null \
  && ok "$(grep 'installer: installed' "$out/programs.log" | sed 's/^installer: //')" \
  || bad "installer did not install the client"
[ -n "$shot1$shot2" ] && ok "splash screenshots: $shot1 $shot2"

step "Second run: the client is registered"
requests_before=$(wc -l <"$out/vendor.log")
start=$(date +%s%N)
"$build/wine-run.sh" "$build/PimbrelLauncher.exe" >"$out/run2.stdout" 2>/dev/null
code=$?
elapsed=$(( ($(date +%s%N) - start) / 1000000 ))
[ "$code" = 0 ] && ok "launcher exit code 0 after ${elapsed} ms" || bad "launcher exit code $code"
for _ in $(seq 100); do grep -q 'client: started' "$out/programs.log" 2>/dev/null && break; sleep 0.1; done
if grep -q 'client: started' "$out/programs.log"; then
  ok "process started: $(grep 'client: started' "$out/programs.log" | head -1 | sed 's/^client: started, //')"
else bad "client not started"; fi
sleep 1; shot3=$(shoot "$out/client.png")
[ -n "$shot3" ] && ok "client window screenshot: $shot3"
[ "$(wc -l <"$out/vendor.log")" = "$requests_before" ] && ok "no request reached the vendor server" \
  || bad "the second run still talked to the server"
sleep 3.5  # the sample client closes itself

step "Report"
if [ "$failures" = 0 ]; then
  echo "demo: all steps passed (files in $out)"
else
  echo "demo: $failures step(s) failed (files in $out)"
  exit 1
fi
