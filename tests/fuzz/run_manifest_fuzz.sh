#!/usr/bin/env bash
# run_manifest_fuzz.sh OUT_DIR SECONDS
# Builds the manifest fuzzer natively into OUT_DIR and runs it for SECONDS
# from the seed corpus. New inputs go to OUT_DIR/corpus, crashes to
# OUT_DIR/crash-*; the exit code is the fuzzer's (0 when nothing was found).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out=${1:?output folder}
seconds=${2:?seconds}
mkdir -p "$out/corpus"
out=$(cd "$out" && pwd)
cmake -S "$here" -B "$out/build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$out/build" >/dev/null
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# -max_len covers the nesting limit (1000 levels) and long values; -timeout
# and -rss_limit_mb turn a hang or a runaway allocation into a finding.
exec "$out/build/manifest_fuzzer" -max_total_time="$seconds" -max_len=8192 -timeout=10 \
  -rss_limit_mb=2048 -dict="$here/manifest.dict" -artifact_prefix="$out/" -print_final_stats=1 \
  "$out/corpus" "$here/manifest_corpus"
