#!/usr/bin/env bash
# The local vendor server's modes, checked with curl against 127.0.0.1.
set -u
top=$(cd "$(dirname "$0")/.." && pwd)
root=$(mktemp -d)
trap 'rm -rf "$root"; [ -n "${pid:-}" ] && kill "$pid" 2>/dev/null' EXIT
mkdir -p "$root/client" "$root/files"
echo '{"pc": {"version_name": "1.2.0", "app_file": "x"}}' >"$root/client/version.html"
head -c 300000 /dev/urandom >"$root/files/setup.exe"
port=$((49000 + RANDOM % 1000))
fail=0
expect() { if [ "$2" = "$3" ]; then echo "ok: $1"; else echo "FAIL: $1: got '$2', want '$3'"; fail=1; fi; }

serve() {
  [ -n "${pid:-}" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
  python3 "$top/tools/vendor_server.py" --root "$root" --port $port --lifetime 30 --log "$root/log" "$@" 2>/dev/null &
  pid=$!
  for _ in $(seq 50); do curl -s -o /dev/null "http://127.0.0.1:$port/" && return; sleep 0.1; done
}
get() { curl -s --path-as-is -o "$root/out" -w '%{http_code} %{size_download}' "http://127.0.0.1:$port$1"; }

serve
expect "manifest" "$(get /client/version.html)" "200 $(stat -c %s "$root/client/version.html")"
expect "installer" "$(get /files/setup.exe)" "200 300000"
cmp -s "$root/out" "$root/files/setup.exe" && echo "ok: installer bytes" || { echo "FAIL: installer bytes"; fail=1; }
expect "missing file" "$(get /files/none.exe | cut -d' ' -f1)" "404"
expect "no escape from the root" "$(get /../../etc/passwd | cut -d' ' -f1)" "404"
grep -q '^GET /client/version.html "curl/' "$root/log" && echo "ok: request log" || { echo "FAIL: request log"; fail=1; }

serve --fail manifest-404
expect "manifest-404" "$(get /client/version.html | cut -d' ' -f1)" "404"
serve --fail bad-manifest
python3 -c 'import json,sys; json.load(open(sys.argv[1]))' "$root/out" 2>/dev/null
get /client/version.html >/dev/null
python3 -c 'import json,sys; json.load(open(sys.argv[1]))' "$root/out" 2>/dev/null && { echo "FAIL: bad-manifest parses"; fail=1; } || echo "ok: bad-manifest does not parse"
serve --fail installer-404
expect "installer-404" "$(get /files/setup.exe | cut -d' ' -f1)" "404"
serve --fail cut-installer
expect "cut-installer" "$(get /files/setup.exe)" "200 150000"
serve --delay 1
start=$(date +%s%N); get /files/setup.exe >/dev/null; ms=$(( ($(date +%s%N) - start) / 1000000 ))
[ "$ms" -ge 900 ] && echo "ok: delay ($ms ms)" || { echo "FAIL: delay ($ms ms)"; fail=1; }
exit $fail
