#include "fetch/manifest.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/test_support.h"

namespace {

constexpr size_t kGuard = 8;
constexpr wchar_t kFill = 0xABCD;
const wchar_t kVersionBefore[] = L"unset";
const wchar_t kUrlBefore[] = L"http://127.0.0.1:47812/client/version.html";

// An output buffer with guard cells behind its capacity; every cell that
// the text does not cover holds kFill, so any stray write shows.
struct OutputBuffer {
  wchar_t cells[kManifestValueCapacity + kGuard];

  explicit OutputBuffer(const wchar_t* text) {
    for (wchar_t& c : cells) c = kFill;
    wcscpy(cells, text);
  }
};

std::wstring Repeat(wchar_t c, size_t n) { return std::wstring(n, c); }

std::string Manifest(const std::string& version, const std::string& url) {
  return "{\"pc\":{\"version_name\":\"" + version + "\",\"app_file\":\"" + url + "\"}}";
}

struct ManifestCase {
  const char* what;
  std::string text;          // may hold a NUL byte: only the part before it is passed
  std::wstring version;      // expected versionName
  std::wstring url;          // expected installerUrl
  bool versionKept = false;  // versionName must be untouched, cell for cell
  bool urlKept = false;      // installerUrl must be untouched, cell for cell
};

ManifestCase Kept(const char* what, const std::string& text) {
  return {what, text, L"", L"", true, true};
}
ManifestCase Both(const char* what, const std::string& text, const std::wstring& version,
                  const std::wstring& url) {
  return {what, text, version, url, false, false};
}
ManifestCase VersionOnly(const char* what, const std::string& text, const std::wstring& version) {
  return {what, text, version, L"", false, true};
}
ManifestCase UrlOnly(const char* what, const std::string& text, const std::wstring& url) {
  return {what, text, L"", url, true, false};
}

TEST(ParseVersionManifestTest, ReadsOnlyStringMembersOfPc) {
  const std::string url = "http://cdn.example/pimbrel_setup.exe";
  const std::wstring wurl = L"http://cdn.example/pimbrel_setup.exe";
  const std::string deep = std::string(1100, '[') + std::string(1100, ']');
  const std::string v254(254, 'v'), v255(255, 'v');
  // Raw UTF-8 of U+00E9, two bytes that the ANSI code page reads as two characters.
  std::string e127, e128;
  for (int i = 0; i < 127; ++i) e127 += "\xC3\xA9";
  e128 = e127 + "\xC3\xA9";
  std::wstring e127Read;
  for (int i = 0; i < 127; ++i) e127Read += L"\u00c3\u00a9";

  const ManifestCase cases[] = {
      Both("both members", Manifest("1.2.0", url), L"1.2.0", wurl),
      Both("other members around them",
           "{\"a\":1,\"pc\":{\"x\":[1,2],\"version_name\":\"1.2.0\",\"y\":{\"app_file\":\"no\"},"
           "\"app_file\":\"" +
               url + "\",\"z\":null},\"b\":\"c\"}",
           L"1.2.0", wurl),
      Both("members in the other order", "{\"pc\":{\"app_file\":\"u\",\"version_name\":\"v\"}}",
           L"v", L"u"),
      Both("whitespace everywhere",
           " \r\n\t{ \"pc\" :\n{ \"version_name\" : \"1\" ,\t\"app_file\":"
           "\"u\" } }\n",
           L"1", L"u"),

      UrlOnly("version_name 3", "{\"pc\":{\"version_name\":3,\"app_file\":\"u\"}}", L"u"),
      UrlOnly("version_name 2.5", "{\"pc\":{\"version_name\":2.5,\"app_file\":\"u\"}}", L"u"),
      UrlOnly("version_name -1e3", "{\"pc\":{\"version_name\":-1e3,\"app_file\":\"u\"}}", L"u"),
      UrlOnly("version_name true", "{\"pc\":{\"version_name\":true,\"app_file\":\"u\"}}", L"u"),
      UrlOnly("version_name false", "{\"pc\":{\"version_name\":false,\"app_file\":\"u\"}}", L"u"),
      UrlOnly("version_name null", "{\"pc\":{\"version_name\":null,\"app_file\":\"u\"}}", L"u"),
      UrlOnly("version_name object",
              "{\"pc\":{\"version_name\":{\"version_name\":\"1\"},\"app_file\":\"u\"}}", L"u"),
      UrlOnly("version_name array", "{\"pc\":{\"version_name\":[\"1\"],\"app_file\":\"u\"}}", L"u"),
      UrlOnly("version_name missing", "{\"pc\":{\"app_file\":\"u\"}}", L"u"),
      VersionOnly("app_file number", "{\"pc\":{\"version_name\":\"1\",\"app_file\":7}}", L"1"),
      VersionOnly("app_file missing", "{\"pc\":{\"version_name\":\"1\"}}", L"1"),
      Both("both empty", Manifest("", ""), L"", L""),
      Both("app_file empty string", Manifest("1", ""), L"1", L""),

      Kept("null", "null"),
      Kept("empty object", "{}"),
      Kept("empty text", ""),
      Kept("only whitespace", " \n"),
      Kept("no pc", "{\"other\":{\"version_name\":\"1\",\"app_file\":\"u\"}}"),
      Kept("pc null", "{\"pc\":null}"),
      Kept("pc empty", "{\"pc\":{}}"),
      Kept("members at the root", "{\"version_name\":\"1\",\"app_file\":\"u\"}"),
      Kept("members one level too deep",
           "{\"pc\":{\"inner\":{\"version_name\":\"1\",\"app_file\":\"u\"}}}"),
      Kept("pc one level too deep", "{\"x\":" + Manifest("1", "u") + "}"),
      Kept("other capitals",
           "{\"PC\":{\"version_name\":\"1\",\"app_file\":\"u\"},"
           "\"pc\":{\"Version_Name\":\"1\",\"APP_FILE\":\"u\"}}"),
      Kept("pc array", "{\"pc\":[{\"version_name\":\"1\",\"app_file\":\"u\"}]}"),
      Kept("pc string", "{\"pc\":\"version_name\"}"),
      Kept("pc number", "{\"pc\":12}"),
      Kept("pc true", "{\"pc\":true}"),
      Kept("root array", "[" + Manifest("1", "u") + "]"),
      Kept("root string", "\"pc\""),
      Kept("root number", "42"),

      Kept("missing final brace", "{\"pc\":{\"version_name\":\"1\",\"app_file\":\"u\"}"),
      Kept("cut inside a string", "{\"pc\":{\"version_name\":\"1\",\"app_file\":\"htt"),
      Kept("names without quotes", "{pc:{version_name:\"1\",app_file:\"u\"}}"),
      Kept("single quotes", "{'pc':{'version_name':'1','app_file':'u'}}"),
      Kept("trailing comma", "{\"pc\":{\"version_name\":\"1\",\"app_file\":\"u\",}}"),
      Kept("byte-order mark", "\xEF\xBB\xBF" + Manifest("1", "u")),
      Kept("nesting past the reader's limit",
           "{\"pc\":{\"version_name\":\"1\",\"app_file\":\"u\"},"
           "\"deep\":" +
               deep + "}"),
      Kept("NUL byte cuts the document",
           "{\"pc\":{\"version_name\":\"1\"" + std::string(1, '\0') + "}}"),
      Both("NUL byte after the document", Manifest("1", "u") + std::string("\0{", 2), L"1", L"u"),

      Both("another value after the root", Manifest("1", "u") + Manifest("2", "w"), L"1", L"u"),
      Both("stray characters after the root", Manifest("1", "u") + " }]garbage", L"1", L"u"),
      Both("comment after the root", Manifest("1", "u") + " // done\n/* and */", L"1", L"u"),
      Both("block comments",
           "/* a */{/* b */\"pc\":/* c */{/* e */\"version_name\":\"1\""
           "/* f */,\"app_file\":\"u\"/* g */}/* h */}",
           L"1", L"u"),
      Both("line comments",
           "// a\n{// b\n\"pc\":{// c\n\"version_name\":\"1\"// d\n,"
           "\"app_file\":\"u\"// e\n}// f\n}",
           L"1", L"u"),
      Kept("unclosed block comment", "/* " + Manifest("1", "u")),

      Both("later duplicate wins",
           "{\"pc\":{\"version_name\":\"1\",\"app_file\":\"u\","
           "\"version_name\":\"2\",\"app_file\":\"w\"}}",
           L"2", L"w"),
      UrlOnly("later pc wins", "{\"pc\":{\"version_name\":\"1\"},\"pc\":{\"app_file\":\"u\"}}",
              L"u"),

      Both("simple escapes", Manifest("a\\\"b\\\\c\\/d\\te", "\\u0041\\u0062"), L"a\"b\\c/d\te",
           L"Ab"),
      Both("\\u0000 ends the value", Manifest("ab\\u0000cd", "\\u0000"), L"ab", L""),

      Both("254 characters fit", Manifest(v254, v254), Repeat(L'v', 254), Repeat(L'v', 254)),
      Kept("255 characters are absent", Manifest(v255, v255)),
      VersionOnly("255 characters are absent on their own", Manifest(v254, v255),
                  Repeat(L'v', 254)),
  };
  // Under the Western European code page each UTF-8 byte is one character:
  // the length limit counts converted characters, not those of the JSON text.
  const ManifestCase western[] = {
      Both("escaped U+00E9 reads as U+00C3 U+00A9", Manifest("\\u00e9", "x"), L"\u00c3\u00a9",
           L"x"),
      Both("raw U+00E9 reads the same", Manifest("\xC3\xA9", "x"), L"\u00c3\u00a9", L"x"),
      Both("surrogate pair reads as four characters", Manifest("\\ud83d\\ude00", "x"),
           L"\u00f0\u0178\u02dc\u20ac", L"x"),
      VersionOnly("254 bytes of UTF-8 fit, 256 do not", Manifest(e127, e128), e127Read),
  };

  std::vector<ManifestCase> all(std::begin(cases), std::end(cases));
  if (GetACP() == 1252) {
    all.insert(all.end(), std::begin(western), std::end(western));
  } else {
    printf("note: ANSI code page %u, the Western European cases did not run\n", GetACP());
  }

  for (const ManifestCase& c : all) {
    SCOPED_TRACE(c.what);
    OutputBuffer version(kVersionBefore), installer(kUrlBefore);
    const OutputBuffer versionBefore = version, installerBefore = installer;

    ParseVersionManifest(c.text.c_str(), version.cells, installer.cells);

    if (c.versionKept) {
      EXPECT_EQ(0, memcmp(version.cells, versionBefore.cells, sizeof(version.cells)));
    } else {
      EXPECT_EQ(std::wstring(version.cells), c.version);
    }
    if (c.urlKept) {
      EXPECT_EQ(0, memcmp(installer.cells, installerBefore.cells, sizeof(installer.cells)));
    } else {
      EXPECT_EQ(std::wstring(installer.cells), c.url);
    }
    for (size_t i = kManifestValueCapacity; i < kManifestValueCapacity + kGuard; ++i) {
      EXPECT_EQ(version.cells[i], kFill) << "versionName overrun at " << i;
      EXPECT_EQ(installer.cells[i], kFill) << "installerUrl overrun at " << i;
    }
  }
}

const char kDigestHex[] = "9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08";

std::string PinManifest(const std::string& sha256Value) {
  return "{\"pc\":{\"version_name\":\"1\",\"app_file\":\"u\",\"sha256\":" + sha256Value + "}}";
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

TEST(ReadInstallerPinTest, TakesOnlySixtyFourHexDigits) {
  const unsigned char expected[kSha256Size] = {
      0x9f, 0x86, 0xd0, 0x81, 0x88, 0x4c, 0x7d, 0x65, 0x9a, 0x2f, 0xea, 0xa0, 0xc5, 0x5a, 0xd0, 0x15,
      0xa3, 0xbf, 0x4f, 0x1b, 0x2b, 0x0b, 0x82, 0x2c, 0xd1, 0x5d, 0x6c, 0x15, 0xb0, 0xf0, 0x0a, 0x08};
  std::string upper = kDigestHex;
  for (char& c : upper) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  std::string mixed = kDigestHex;
  for (size_t i = 0; i < mixed.size(); i += 2) {
    mixed[i] = static_cast<char>(toupper(static_cast<unsigned char>(mixed[i])));
  }
  const std::string hex = kDigestHex;
  const struct {
    const char* what;
    std::string text;
    InstallerPin pin;
  } cases[] = {
      {"lower case", PinManifest(Quoted(hex)), kPinValid},
      {"upper case", PinManifest(Quoted(upper)), kPinValid},
      {"mixed case", PinManifest(Quoted(mixed)), kPinValid},
      {"escaped digits", PinManifest(Quoted("\\u0039" + hex.substr(1))), kPinValid},
      {"later duplicate wins",
       "{\"pc\":{\"sha256\":\"x\",\"app_file\":\"u\",\"sha256\":" + Quoted(hex) + "}}",
       kPinValid},

      {"no sha256", "{\"pc\":{\"version_name\":\"1\",\"app_file\":\"u\"}}", kPinAbsent},
      {"sha256 at the root", "{\"sha256\":" + Quoted(hex) + ",\"pc\":{}}", kPinAbsent},
      {"other capitals", "{\"pc\":{\"SHA256\":\"x\"}}", kPinAbsent},
      {"pc not an object", "{\"pc\":[" + Quoted(hex) + "]}", kPinAbsent},
      {"no pc", "{}", kPinAbsent},
      {"does not parse", PinManifest(Quoted(hex)).substr(1), kPinAbsent},
      {"empty text", "", kPinAbsent},

      {"63 digits", PinManifest(Quoted(hex.substr(1))), kPinMalformed},
      {"65 digits", PinManifest(Quoted(hex + "0")), kPinMalformed},
      {"empty string", PinManifest(Quoted("")), kPinMalformed},
      {"a non-hex digit", PinManifest(Quoted(hex.substr(0, 63) + "g")), kPinMalformed},
      {"a space inside", PinManifest(Quoted(hex.substr(0, 32) + " " + hex.substr(33))),
       kPinMalformed},
      {"surrounding spaces", PinManifest(Quoted(" " + hex.substr(2) + " ")), kPinMalformed},
      {"0x prefix", PinManifest(Quoted("0x" + hex.substr(2))), kPinMalformed},
      {"sha256: prefix", PinManifest(Quoted("sha256:" + hex)), kPinMalformed},
      {"escaped NUL after the digits", PinManifest(Quoted(hex + "\\u0000")), kPinMalformed},
      {"escaped NUL inside", PinManifest(Quoted(hex.substr(0, 62) + "\\u00000")), kPinMalformed},
      {"null", PinManifest("null"), kPinMalformed},
      {"number", PinManifest("12"), kPinMalformed},
      {"true", PinManifest("true"), kPinMalformed},
      {"array of the digits", PinManifest("[" + Quoted(hex) + "]"), kPinMalformed},
      {"object", PinManifest("{\"value\":" + Quoted(hex) + "}"), kPinMalformed},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    unsigned char digest[kSha256Size + kGuard];
    memset(digest, 0x5A, sizeof(digest));
    EXPECT_EQ(ReadInstallerPin(c.text.c_str(), digest), c.pin);
    if (c.pin == kPinValid) {
      EXPECT_EQ(0, memcmp(digest, expected, kSha256Size));
    } else {
      for (size_t i = 0; i < kSha256Size; ++i) EXPECT_EQ(digest[i], 0x5A) << "digest written at " << i;
    }
    for (size_t i = kSha256Size; i < sizeof(digest); ++i) EXPECT_EQ(digest[i], 0x5A) << "overrun";
  }
}

TEST(ReadInstallerPinTest, LeavesTheOtherMembersAlone) {
  // A pin beside the two members changes nothing in what they give.
  const std::string text = PinManifest(Quoted(kDigestHex));
  OutputBuffer version(kVersionBefore), installer(kUrlBefore);
  ParseVersionManifest(text.c_str(), version.cells, installer.cells);
  EXPECT_STREQ(version.cells, L"1");
  EXPECT_STREQ(installer.cells, L"u");
}

}  // namespace
