#!/usr/bin/env bash
# make_delaylib.sh NM DLLTOOL IMPORT_LIB DLL_NAME OUT_LIB i686|x86_64
# Makes a delay-import library for DLL_NAME with every function that the
# toolchain's IMPORT_LIB names. GNU ld has no /DELAYLOAD; a program linked
# against OUT_LIB instead loads the DLL through the C runtime's
# __delayLoadHelper2 (LoadLibrary, so after SetDefaultDllDirectories) the
# first time one of its functions is called.
set -euo pipefail
nm=$1 dlltool=$2 importlib=$3 dll=$4 out=$5 arch=$6
def="$out.def"
{
  echo "LIBRARY $dll"
  echo "EXPORTS"
  # Each import has a "__imp_<symbol>" entry; on i686 the symbol carries the
  # C prefix "_" (and stdcall's "@N", which -k drops from the imported name).
  "$nm" "$importlib" | sed -n 's/^[0-9a-f]* I __imp_//p' | while read -r symbol; do
    [ "$arch" = i686 ] && symbol=${symbol#_}
    echo "$symbol"
  done | sort -u
} >"$def"
kill_at=()
[ "$arch" = i686 ] && kill_at=(-k)
"$dlltool" "${kill_at[@]}" --input-def "$def" --dllname "$dll" --output-delaylib "$out"
