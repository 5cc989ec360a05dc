#!/usr/bin/env bash
# The launcher's benchmarks in one table: bench/run_benchmarks.sh [RUNS]
# Builds what it needs (presets bench and win32, and build/bench-size for the
# linker map), starts a wine env of its own on build/bench (Xvfb, wineserver,
# prefix), runs every measurement RUNS times (default 5; the client path 4 x
# RUNS + 1 times) and stops the env again. Each ratio compares two figures of
# the same run, medians over the runs. MiB = 2^20 bytes. See docs/benchmarks.md.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
runs=${1:-5}
size_mb=64
build=$top/build/bench
cd "$top"

log=$(mktemp -d /tmp/pimbrel-bench.XXXXXX)
driver_pid=
cleanup() {
  if [ -n "$driver_pid" ] && kill -0 "$driver_pid" 2>/dev/null; then kill "$driver_pid" 2>/dev/null || true; fi
  [ -d "$build" ] && bash tools/wine-env.sh stop "$build" >/dev/null 2>&1 || true
  rm -rf "$log"
}
trap cleanup EXIT

echo "building (log in $log/build.log) ..." >&2
{
  [ -f "$build/CMakeCache.txt" ] || cmake --preset bench
  cmake --build --preset bench --target PimbrelLauncher launch_bench floor_launch stamp_client splash_bench
  cmake --preset win32 && cmake --build --preset win32
  cmake --preset win32 -B build/bench-size -DCMAKE_EXE_LINKER_FLAGS=-Wl,-Map=PimbrelLauncher.map
  cmake --build build/bench-size
} >"$log/build.log" 2>&1 || { cat "$log/build.log" >&2; exit 1; }
port=$(sed -n 's/^PIMBREL_TEST_PORT:STRING=//p' "$build/CMakeCache.txt")

load_before=$(cut -d' ' -f1-3 /proc/loadavg)
bash tools/wine-env.sh start "$build" >"$log/env.log" 2>&1 || { cat "$log/env.log" >&2; exit 1; }
winpath() { echo "Z:$(sed 's|/|\\|g' <<<"$1")"; }
launcher=$(winpath "$build/PimbrelLauncher.exe")
client=$(winpath "$build/stamp_client.exe")
value() { sed -n "s/^$1=//p" "$2" | tr -d '\r'; }
median() { sort -g | awk '{ v[NR] = $1 } END {
  if (NR % 2) printf "%.6f", v[(NR + 1) / 2]; else printf "%.6f", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# 1. Installed client: launcher against the floor program, alternately.
echo "installed-client path ..." >&2
"$build/wine-run.sh" "$build/launch_bench.exe" client "$launcher" "$(winpath "$build/floor_launch.exe")" \
  "$client" $((4 * runs + 1)) >"$log/client.out" 2>"$log/client.err" </dev/null ||
  { cat "$log/client.out" "$log/client.err" >&2; exit 1; }

# 2 and 5. Install path; then curl from the same server while it holds.
echo "install path ($size_mb MiB, $runs runs) ..." >&2
"$build/wine-run.sh" "$build/launch_bench.exe" install "$launcher" "$client" "$port" "$size_mb" "$runs" \
  600000 >"$log/install.out" 2>"$log/install.err" </dev/null &
driver_pid=$!
for _ in $(seq 2400); do
  grep -q '^serving' "$log/install.out" 2>/dev/null && break
  kill -0 "$driver_pid" 2>/dev/null || break
  sleep 0.5
done
grep -q '^serving' "$log/install.out" || { cat "$log/install.out" "$log/install.err" >&2; exit 1; }
expected=$((size_mb * 1048576))
curl_file="$build/wineprefix/drive_c/ProgramData/Pimbrel/Install/bench_curl.bin"
for _ in $(seq "$runs"); do
  speed=$(curl -sS --noproxy '*' -o "$curl_file" -w '%{speed_download}' "http://127.0.0.1:$port/installer.exe")
  [ "$(stat -c %s "$curl_file")" = "$expected" ] || { echo "run_benchmarks: curl got a short body" >&2; exit 1; }
  awk -v s="$speed" 'BEGIN { printf "%.3f\n", s / 1048576 }' >>"$log/curl.txt"
  rm -f "$curl_file"
done
curl -sS --noproxy '*' -o /dev/null "http://127.0.0.1:$port/quit" || true
wait "$driver_pid" || { cat "$log/install.err" >&2; exit 1; }
driver_pid=

# 4. Splash frames, and whole splash phases.
echo "splash ..." >&2
"$build/wine-run.sh" "$build/splash_bench.exe" frames 201 >"$log/frames.out" 2>"$log/frames.err" </dev/null ||
  { cat "$log/frames.err" >&2; exit 1; }
for _ in $(seq "$runs"); do
  "$build/wine-run.sh" "$build/splash_bench.exe" phase >"$log/phase.out" 2>>"$log/phase.err" </dev/null
  value phase_wall_ms "$log/phase.out" >>"$log/phase_wall.txt"
  value phase_cpu_ms "$log/phase.out" >>"$log/phase_cpu.txt"
done
load_after=$(cut -d' ' -f1-3 /proc/loadavg)
bash tools/wine-env.sh stop "$build" >/dev/null 2>&1 || true

# 3. Size of the shipped exe, and the shares from the linker map. A variant
# linked from the same objects with a manifest reader that has no JsonCpp
# gives what JsonCpp costs with the runtime parts it pulls in.
shipped=$(stat -c %s build/win32/PimbrelLauncher.exe)
python3 bench/size_report.py build/bench-size/PimbrelLauncher.map >"$log/size.out"
size_dir=build/bench-size
cxx=i686-w64-mingw32-g++-posix
cp "$size_dir/libpimbrel_core.a" "$log/core.a"
i686-w64-mingw32-ar d "$log/core.a" manifest.cc.obj
{
  $cxx -Os -flto -I. -c bench/manifest_without_json.cc -o "$log/no_json.o"
  $cxx -Os -flto -mwindows -static -static-libgcc -static-libstdc++ -Wl,--gc-sections -s \
    "$size_dir/launcher/CMakeFiles/PimbrelLauncher.dir/winmain.cc.obj" \
    "$size_dir/launcher/CMakeFiles/PimbrelLauncher.dir/__/resources/launcher.rc.res" "$log/no_json.o" \
    "$log/core.a" -lwininet -lgdiplus -lshell32 -lole32 -luser32 -lgdi32 -ladvapi32 -o "$log/no_json.exe"
} >>"$log/build.log" 2>&1 || { cat "$log/build.log" >&2; exit 1; }
no_json=$(stat -c %s "$log/no_json.exe")

c=$log/client.out i=$log/install.out f=$log/frames.out s=$log/size.out
curl_mibps=$(median <"$log/curl.txt")
awk -v lc="$(value client_launcher_s "$c")" -v fc="$(value client_floor_s "$c")" \
  -v inst="$(value install_mibps "$i")" -v r1="$(value reader1023_mibps "$i")" \
  -v r64="$(value reader65536_mibps "$i")" -v cu="$curl_mibps" -v us="$(value reader1023_us_per_call "$i")" \
  -v ins="$(value install_s "$i")" -v run="$(value launcher_run_s "$i")" -v cpu="$(value launcher_cpu_s "$i")" \
  -v ws="$(value peak_working_set "$i")" -v pf="$(value peak_pagefile "$i")" \
  -v size="$shipped" -v js="$(value jsoncpp "$s")" -v cxx="$(value libstdcxx "$s")" \
  -v gcc="$(value libgcc "$s")" -v thr="$(value winpthread "$s")" -v crt="$(value crt "$s")" \
  -v own="$(value launcher "$s")" -v lto="$(value launcher_jsoncpp_lto "$s")" -v nojson="$no_json" \
  -v rm="$(value render_median_ms "$f")" -v rw="$(value render_worst_ms "$f")" \
  -v pm="$(value paint_median_ms "$f")" -v pw="$(value paint_worst_ms "$f")" \
  -v sdc="$(value step_dc_bitmap_ms "$f")" -v sctx="$(value step_context_ms "$f")" \
  -v scl="$(value step_gdip_clear_ms "$f")" -v smem="$(value step_memset_ms "$f")" \
  -v sart="$(value step_artwork_ms "$f")" -v sring="$(value step_ring_ms "$f")" \
  -v sfont="$(value step_font_ms "$f")" -v stext="$(value step_text_ms "$f")" \
  -v spush="$(value step_push_ms "$f")" -v sfresh="$(value step_fresh_dib_ms "$f")" \
  -v sbep="$(value step_begin_end_paint_ms "$f")" \
  -v pwall="$(median <"$log/phase_wall.txt")" -v pcpu="$(median <"$log/phase_cpu.txt")" \
  -v runs="$runs" -v mb="$size_mb" 'BEGIN {
  mib = 1048576
  printf "%-52s %14s %12s %8s\n", "measure (median)", "figure", "ratio", "target"
  printf "%-52s %11.1f ms %12s\n", "1. installed client: launcher start -> client start", lc * 1000, ""
  printf "%-52s %11.1f ms %10.3f x %8s\n", "   floor (CreateProcessW only) -> client start", fc * 1000, lc / fc, "<= 1.2"
  printf "%-52s %8.2f MiB/s %12s\n", sprintf("2. install: %d MiB, request -> installer start", mb), inst, ""
  printf "%-52s %8.2f MiB/s %10.4f x %8s\n", "   curl, same server", cu, inst / cu, ">= 0.5"
  printf "%-52s %8.2f MiB/s %10.3f x\n", "   WinINet 1,023-byte reads, same server", r1, inst / r1
  printf "%-52s %8.2f MiB/s %10.3f x\n", "   WinINet 65,536-byte reads, same server", r64, inst / r64
  printf "%-52s %11.1f us\n", "   cost of one 1,023-byte InternetReadFile", us
  printf "%-52s %14d %12s %8s\n", "3. shipped win32 exe, bytes", size, "", "<1000000"
  printf "%-52s %14d %9.1f %%\n", "   map: C++ runtime (libstdc++)", cxx, 100 * cxx / size
  printf "%-52s %14d %9.1f %%\n", "   map: launcher code + JsonCpp (one, after LTO)", own + js + lto, 100 * (own + js + lto) / size
  printf "%-52s %14d %9.1f %%\n", "   map: libgcc + winpthread + mingw CRT", gcc + thr + crt, 100 * (gcc + thr + crt) / size
  printf "%-52s %14d %12s\n", "   variant without JsonCpp, bytes", nojson, ""
  printf "%-52s %14d %9.1f %%\n", "   JsonCpp with the runtime it pulls in", size - nojson, 100 * (size - nojson) / size
  printf "%-52s %11.2f ms %12s %8s\n", "4. splash PaintSplash per frame, live window", pm, "", "< 2 ms"
  printf "%-52s %11.2f ms\n", "   worst frame", pw
  printf "%-52s %11.2f ms %12s\n", "   RenderSplashFrame off-screen (worst)", rm, sprintf("(%.2f)", rw)
  printf "%-52s %11.2f ms\n", "   step: memory DC + 468x288 DIB section", sdc
  printf "%-52s %11.2f ms\n", "   step: BeginPaint + GetWindowRect + EndPaint", sbep
  printf "%-52s %11.2f ms\n", "   step: fresh DIB section, first touch of its pages", sfresh
  printf "%-52s %11.2f ms\n", "   step: GDI+ graphics on the surface", sctx
  printf "%-52s %11.2f ms\n", "   step: clear by memset", smem
  printf "%-52s %11.2f ms\n", "   (GdipGraphicsClear of it, which memset replaced)", scl
  printf "%-52s %11.2f ms\n", "   step: draw the artwork", sart
  printf "%-52s %11.2f ms\n", "   step: pen + arc", sring
  printf "%-52s %11.2f ms\n", "   step: Arial family + font", sfont
  printf "%-52s %11.2f ms\n", "   step: brush + format + DrawString", stext
  printf "%-52s %11.2f ms\n", "   step: UpdateLayeredWindow", spush
  printf "%-52s %11.0f ms\n", "   whole splash phase, wall", pwall
  printf "%-52s %11.0f ms %10.3f x wall\n", "   whole splash phase, process CPU", pcpu, pcpu / pwall
  printf "%-52s %10.1f MiB\n", "5. launcher peak working set, install path", ws / mib
  printf "%-52s %10.1f MiB\n", "   launcher peak pagefile (private) usage", pf / mib
  printf "%-52s %12.3f s\n", "   (installer request -> installer start)", ins
  printf "%-52s %12.3f s\n", "   (whole launcher run, splash included)", run
  printf "%-52s %12.3f s\n", "   (CPU time of that run)", cpu
}'
echo
echo "runs: $runs (client path $((4 * runs + 1))); machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //'); load average before $load_before, after $load_after"
