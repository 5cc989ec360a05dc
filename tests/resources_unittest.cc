// The resources of the built launchers: the shipped i686 exe (loaded as a
// data file) and the x86_64 test build of the same code.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "resources/resource.h"
#include "tests/test_support.h"

namespace {

std::vector<std::wstring> Launchers() {
  std::vector<std::wstring> paths = {BuildDirectory() + L"\\PimbrelLauncher.exe"};
  wchar_t shipped[1024] = {};
  if (GetEnvironmentVariableW(L"PIMBREL_WIN32_EXE", shipped, 1024)) paths.push_back(shipped);
  return paths;
}

std::string ResourceBytes(HMODULE module, LPCWSTR type, LPCWSTR name, WORD language) {
  HRSRC found = FindResourceExW(module, type, name, language);
  if (!found) return "";
  HGLOBAL loaded = LoadResource(module, found);
  return std::string(static_cast<const char*>(LockResource(loaded)), SizeofResource(module, found));
}

class ResourcesTest : public ::testing::TestWithParam<std::wstring> {};

TEST_P(ResourcesTest, CarriesStringsArtworkIconManifestAndVersion) {
  const std::wstring path = GetParam();
  HMODULE module =
      LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  ASSERT_NE(module, nullptr) << Narrow(path) << " error " << GetLastError();

  wchar_t text[255] = {};
  EXPECT_EQ(LoadStringW(module, IDS_APP_ID, text, 255), 12);
  EXPECT_STREQ(text, L"appid:426429");
  ASSERT_GT(LoadStringW(module, IDS_MANIFEST_URL, text, 255), 0);
  const std::wstring url = text;
  EXPECT_EQ(url.rfind(L"http://", 0), 0u) << Narrow(url);
  EXPECT_EQ(url.substr(url.size() - 20), L"/client/version.html") << Narrow(url);

  const std::string png = ResourceBytes(module, L"PNG", MAKEINTRESOURCEW(IDR_SPLASH_PNG),
                                        MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED));
  ASSERT_GT(png.size(), 33u);
  EXPECT_EQ(png.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
  // IHDR: 200 x 200, 8 bits, colour type 6 (RGBA), not interlaced.
  EXPECT_EQ(png.substr(16, 8), std::string("\0\0\0\xc8\0\0\0\xc8", 8));
  EXPECT_EQ(png[24], 8);
  EXPECT_EQ(png[25], 6);
  EXPECT_EQ(png[28], 0);

  EXPECT_NE(FindResourceW(module, MAKEINTRESOURCEW(IDI_ICON1), RT_GROUP_ICON), nullptr);

  const std::string manifest = ResourceBytes(module, RT_MANIFEST, MAKEINTRESOURCEW(1),
                                             MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL));
  EXPECT_NE(manifest.find("level=\"requireAdministrator\""), std::string::npos) << manifest;
  EXPECT_NE(manifest.find("uiAccess=\"false\""), std::string::npos);
  FreeLibrary(module);

  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
  ASSERT_GT(size, 0u);
  std::vector<char> info(size);
  ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, info.data()));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT fixedSize = 0;
  ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &fixedSize));
  EXPECT_EQ(fixed->dwFileVersionMS, MAKELONG(0, 1));
  EXPECT_EQ(fixed->dwFileVersionLS, MAKELONG(4, 0));
  EXPECT_EQ(fixed->dwProductVersionMS, MAKELONG(0, 1));
  EXPECT_EQ(fixed->dwProductVersionLS, MAKELONG(4, 0));
}

INSTANTIATE_TEST_SUITE_P(Launchers, ResourcesTest, ::testing::ValuesIn(Launchers()));

}  // namespace
