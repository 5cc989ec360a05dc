#!/usr/bin/env bash
# no_display_test.sh BUILD_DIR PORT
# The install path with no X display at all: no splash can be created, yet the
# installer is downloaded and started and the launcher exits with 0. Runs the
# launcher from here because Wine takes DISPLAY from the Unix environment.
set -u
build=$(cd "${1:?build dir}" && pwd)
port=${2:?port}
top=$(cd "$(dirname "$0")/.." && pwd)
export WINEPREFIX=$build/wineprefix WINEDEBUG=-all
work=$(mktemp -d)
trap 'kill "$server" 2>/dev/null; rm -rf "$work" "$WINEPREFIX/drive_c/ProgramData/Pimbrel"' EXIT
rm -rf "$WINEPREFIX/drive_c/ProgramData/Pimbrel"
/usr/lib/wine/wine64 reg delete 'HKLM\Software\Microsoft\Windows\CurrentVersion\App Paths\PimbrelMini.exe' /f \
  </dev/null >/dev/null 2>&1
mkdir -p "$work/root/client" "$work/root/files"
cp "$build/record_args.exe" "$work/root/files/setup.exe"
echo "{\"pc\": {\"version_name\": \"1.2.0\", \"app_file\": \"http://127.0.0.1:$port/files/setup.exe\"}}" \
  >"$work/root/client/version.html"
python3 "$top/tools/vendor_server.py" --root "$work/root" --port "$port" --lifetime 60 \
  --log "$work/requests.log" 2>/dev/null &
server=$!
for _ in $(seq 50); do curl -s -o /dev/null "http://127.0.0.1:$port/" && break; sleep 0.1; done

export PIMBREL_RECORD_FILE="Z:$work/record.txt"
start=$(date +%s%N)
env -u DISPLAY /usr/lib/wine/wine64 "$build/PimbrelLauncher.exe" >"$work/stdout" 2>/dev/null
code=$?
ms=$(( ($(date +%s%N) - start) / 1000000 ))
for _ in $(seq 100); do [ -s "$work/record.txt" ] && break; sleep 0.1; done
fail=0
[ "$code" = 0 ] && echo "ok: exit code 0 after $ms ms" || { echo "FAIL: exit code $code"; fail=1; }
grep -q '"appid:426429"' "$work/record.txt" 2>/dev/null && echo "ok: installer started: $(head -1 "$work/record.txt")" \
  || { echo "FAIL: installer not started"; fail=1; }
cmp -s "$WINEPREFIX/drive_c/ProgramData/Pimbrel/Install/pimbrel_mini_1.2.0.exe" "$build/record_args.exe" \
  && echo "ok: installer stored" || { echo "FAIL: installer not stored"; fail=1; }
# The same environment really has no display: the sample client cannot make its window there.
PIMBREL_DEMO_LOG="Z:$work/client.log" env -u DISPLAY /usr/lib/wine/wine64 "$build/pimbrel_sample_client.exe" \
  </dev/null >/dev/null 2>&1
grep -q 'no window could be created' "$work/client.log" 2>/dev/null && echo "ok: no window can be created there" \
  || { echo "FAIL: a window could be created without DISPLAY"; fail=1; }
exit $fail
