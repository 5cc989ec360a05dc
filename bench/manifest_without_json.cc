// Size variant only, never shipped: the manifest reader without JsonCpp, so
// that the shipped exe less this variant is what JsonCpp costs, the C++
// runtime parts it pulls in included. Reads nothing.
#include "fetch/manifest.h"

void ParseVersionManifest(const char*, wchar_t*, wchar_t*) {}
