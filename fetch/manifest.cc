#include "fetch/manifest.h"

#include <windows.h>
#include <wchar.h>

#include <memory>
#include <string>

#include <json/reader.h>
#include <json/value.h>

namespace {

// Member |name| of |object|, or null when |object| is not an object.
// JsonCpp asserts (throws) on a lookup in an array, string or number, so
// such a value is treated as having no members at all.
const Json::Value& MemberOrNull(const Json::Value& object, const char* name) {
  if (!object.isObject()) return Json::Value::nullSingleton();
  return object[name];
}

// Converts the string |value| from the ANSI code page into |out|
// (kManifestValueCapacity wide characters). A value that is not a string,
// or whose conversion does not fit, leaves |out| as it was: a cut URL or
// file name would be worse than none.
void StoreStringValue(const Json::Value& value, wchar_t* out) {
  if (value.type() != Json::stringValue) return;
  const char* bytes = value.asCString();
  const int length = MultiByteToWideChar(CP_ACP, 0, bytes, -1, nullptr, 0);
  if (length <= 0 || static_cast<size_t>(length) > kManifestValueCapacity) return;
  std::unique_ptr<wchar_t[]> wide(new wchar_t[length]);
  if (MultiByteToWideChar(CP_ACP, 0, bytes, -1, wide.get(), length) != length) return;
  wmemcpy(out, wide.get(), static_cast<size_t>(length));
}

}  // namespace

void ParseVersionManifest(const char* manifestText, wchar_t* versionName, wchar_t* installerUrl) {
  const std::string document(manifestText);
  Json::Reader reader;
  Json::Value root;
  try {
    if (!reader.parse(document, root)) return;
  } catch (const Json::Exception&) {
    // The reader throws past its nesting limit; such a text is no manifest
    // either, and the outputs stay as they were.
    return;
  }
  const Json::Value& pc = MemberOrNull(root, "pc");
  const Json::Value versionValue = MemberOrNull(pc, "version_name");
  const Json::Value urlValue = MemberOrNull(pc, "app_file");
  StoreStringValue(versionValue, versionName);
  StoreStringValue(urlValue, installerUrl);
}
