// A plain program that loads a DLL by name with the default search order,
// as most programs do: the control case for the planting test. Exits 0 when
// the DLL loaded.
#include <windows.h>

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return 2;
  return LoadLibraryW(argv[1]) ? 0 : 1;
}
