#include "fetch/manifest.h"

#include <windows.h>
#include <string.h>
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

// Parses |manifestText| (bytes up to the first NUL) into |root|. False when
// it is no JSON document.
bool ParseManifestDocument(const char* manifestText, Json::Value* root) {
  const std::string document(manifestText);
  Json::Reader reader;
  try {
    return reader.parse(document, *root);
  } catch (const Json::Exception&) {
    // The reader throws past its nesting limit; such a text is no manifest
    // either.
    return false;
  }
}

// The value of hexadecimal digit |c|, or -1.
int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

void ParseVersionManifest(const char* manifestText, wchar_t* versionName, wchar_t* installerUrl) {
  Json::Value root;
  if (!ParseManifestDocument(manifestText, &root)) return;
  const Json::Value& pc = MemberOrNull(root, "pc");
  const Json::Value versionValue = MemberOrNull(pc, "version_name");
  const Json::Value urlValue = MemberOrNull(pc, "app_file");
  StoreStringValue(versionValue, versionName);
  StoreStringValue(urlValue, installerUrl);
}

InstallerPin ReadInstallerPin(const char* manifestText, unsigned char* digest) {
  Json::Value root;
  if (!ParseManifestDocument(manifestText, &root)) return kPinAbsent;
  const Json::Value& pc = MemberOrNull(root, "pc");
  if (!pc.isObject() || !pc.isMember("sha256")) return kPinAbsent;
  const Json::Value& value = pc["sha256"];
  if (value.type() != Json::stringValue) return kPinMalformed;
  // The whole string, not only up to an escaped NUL: "<64 digits>\u0000x"
  // is not a digest.
  const std::string text = value.asString();
  if (text.size() != 2 * kSha256Size) return kPinMalformed;
  unsigned char decoded[kSha256Size];
  for (size_t i = 0; i < kSha256Size; ++i) {
    const int high = HexDigitValue(text[2 * i]);
    const int low = HexDigitValue(text[2 * i + 1]);
    if (high < 0 || low < 0) return kPinMalformed;
    decoded[i] = static_cast<unsigned char>(high * 16 + low);
  }
  memcpy(digest, decoded, kSha256Size);
  return kPinValid;
}
