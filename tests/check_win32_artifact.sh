#!/usr/bin/env bash
# Checks the shipped exe's headers: PE32 for i386, GUI subsystem, and imports
# limited to DLLs that ship with Windows (the runtimes are linked statically).
# Only Windows' known DLLs may be in the import table: wininet, gdiplus and
# bcrypt are delay-loaded, after the launcher has restricted the DLL search
# to System32. GNU ld leaves the delay-import directory entry empty, so those
# are checked by the names that the delay descriptors carry.
set -u
exe=${1:?path to PimbrelLauncher.exe}
[ -f "$exe" ] || { echo "FAIL: $exe missing (build the win32 preset first)"; exit 1; }
dump=$(i686-w64-mingw32-objdump -p "$exe") || { echo "FAIL: objdump"; exit 1; }
fail=0
check() { if grep -q -- "$2" <<<"$dump"; then echo "ok: $1"; else echo "FAIL: $1"; fail=1; fi; }
check "PE32 for i386" "file format pei-i386"
check "32-bit optional header" "Magic[[:space:]]*010b"
check "GUI subsystem" "Subsystem[[:space:]]*00000002"
allowed="kernel32.dll user32.dll gdi32.dll advapi32.dll shell32.dll ole32.dll msvcrt.dll"
imports=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$dump" | tr 'A-Z' 'a-z' | sort -u)
[ -n "$imports" ] || { echo "FAIL: no imports found"; fail=1; }
for dll in $imports; do
  case " $allowed " in
    *" $dll "*) echo "ok: imports $dll" ;;
    *) echo "FAIL: imports $dll, which does not ship with Windows"; fail=1 ;;
  esac
done
grep -qx kernel32.dll <<<"$imports" || { echo "FAIL: kernel32.dll not imported"; fail=1; }
names=$(i686-w64-mingw32-strings -a "$exe")
for pair in wininet.dll:InternetOpenUrlW gdiplus.dll:GdiplusStartup bcrypt.dll:BCryptOpenAlgorithmProvider; do
  dll=${pair%%:*} function=${pair#*:}
  if grep -qix "$dll" <<<"$names" && grep -qx "$function" <<<"$names"; then
    echo "ok: delay-loads $dll ($function)"
  else
    echo "FAIL: $dll is not delay-loaded"; fail=1
  fi
  # stdcall decorations in an imported name would make the load fail at run time.
  if grep -qx "$function@[0-9]*" <<<"$names"; then echo "FAIL: $function imported decorated"; fail=1; fi
done
echo "size: $(stat -c %s "$exe") bytes"
exit $fail
