#!/usr/bin/env bash
# Download throughput over loopback, 64 MiB by default:
#   bench/download_bench.sh [BUILD_DIR [SIZE_MB [RUNS]]]
# download_bench.exe (win64 build, under wine64) serves the body from its own
# loopback server thread and measures DownloadToFile and a bare WinINet loop
# of the same 1,023-byte reads; then curl downloads from that same server.
# Prints the three median throughputs and the ratios. MiB = 2^20 bytes.
# (The stdout of the Windows side ends its lines in CR LF.)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$top/build/win64}" && pwd)
size_mb=${2:-64}
runs=${3:-3}
exe="$build/download_bench.exe"
[ -f "$exe" ] || { echo "download_bench: $exe missing (cmake --build --preset win64)" >&2; exit 1; }
command -v curl >/dev/null || { echo "download_bench: curl missing" >&2; exit 1; }

work=$(mktemp -d "$build/bench.XXXXXX")
bench_pid=
cleanup() {
  if [ -n "$bench_pid" ] && kill -0 "$bench_pid" 2>/dev/null; then kill "$bench_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

# Both downloads land in the same folder, on the same file system.
"$build/wine-run.sh" "$exe" "Z:$(sed 's|/|\\|g' <<<"$work")" "$size_mb" "$runs" 120000 \
  >"$work/bench.out" 2>"$work/bench.err" </dev/null &
bench_pid=$!

for _ in $(seq 1200); do
  grep -q '^serving' "$work/bench.out" 2>/dev/null && break
  kill -0 "$bench_pid" 2>/dev/null || break
  sleep 0.5
done
grep -q '^serving' "$work/bench.out" || {
  echo "download_bench: the Windows side did not finish" >&2
  cat "$work/bench.out" "$work/bench.err" >&2
  exit 1
}
grep '^run ' "$work/bench.out" | tr -d '\r'
port=$(sed -n 's/^port=//p' "$work/bench.out" | tr -d '\r')
download=$(sed -n 's/^downloadtofile_mibps=//p' "$work/bench.out" | tr -d '\r')
bare=$(sed -n 's/^bareloop_mibps=//p' "$work/bench.out" | tr -d '\r')

url="http://127.0.0.1:$port/bench.bin"
expected=$((size_mb * 1048576))
curl_speeds=()
for run in $(seq "$runs"); do
  speed=$(curl -sS --noproxy '*' -o "$work/curl.bin" -w '%{speed_download}' "$url")
  got=$(stat -c %s "$work/curl.bin")
  [ "$got" = "$expected" ] || { echo "download_bench: curl got $got bytes" >&2; exit 1; }
  mibps=$(awk -v s="$speed" 'BEGIN { printf "%.2f", s / 1048576 }')
  echo "run $run: curl $mibps MiB/s"
  curl_speeds+=("$mibps")
  rm -f "$work/curl.bin"
done
curl -sS --noproxy '*' -o /dev/null "http://127.0.0.1:$port/quit" || true
wait "$bench_pid" || { echo "download_bench: the Windows side failed" >&2; cat "$work/bench.err" >&2; exit 1; }
bench_pid=

curl_median=$(printf '%s\n' "${curl_speeds[@]}" | sort -g | awk '{ v[NR] = $1 } END {
  if (NR % 2) printf "%.2f", v[(NR + 1) / 2]; else printf "%.2f", (v[NR / 2] + v[NR / 2 + 1]) / 2 }')

echo
echo "body: $size_mb MiB over 127.0.0.1, median of $runs runs"
printf 'DownloadToFile (1,023-byte reads, to a file)   %10.2f MiB/s\n' "$download"
printf 'bare WinINet loop (1,023-byte reads, no file)  %10.2f MiB/s\n' "$bare"
printf 'curl (Linux, to a file)                        %10.2f MiB/s\n' "$curl_median"
awk -v d="$download" -v b="$bare" -v c="$curl_median" 'BEGIN {
  printf "DownloadToFile / bare loop: %.3f\n", d / b
  printf "DownloadToFile / curl:      %.4f\n", d / c }'
