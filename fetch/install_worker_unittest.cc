#include "fetch/install_worker.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/test_support.h"

namespace {

TEST(MakeDebugUrlTest, InsertsBeforeTheLastDot) {
  const struct {
    const wchar_t* url;
    const wchar_t* debugUrl;  // null: no debug form, url unchanged
  } cases[] = {
      {L"http://api.pimbrel.com/client/version.html", L"http://api.pimbrel.com/client/version_debug.html"},
      {L"http://127.0.0.1:47811/client/version.html", L"http://127.0.0.1:47811/client/version_debug.html"},
      // The last dot stands in the host name when the path has none.
      {L"http://api.pimbrel.com/client/version", L"http://api.pimbrel_debug.com/client/version"},
      {L"http://localhost/version", nullptr},
  };
  for (const auto& c : cases) {
    wchar_t url[kUrlCapacity] = {};
    wcscpy(url, c.url);
    EXPECT_EQ(MakeDebugUrl(url, kUrlCapacity), c.debugUrl != nullptr) << Narrow(c.url);
    EXPECT_STREQ(url, c.debugUrl ? c.debugUrl : c.url);
  }
}

TEST(MakeDebugUrlTest, RefusesAResultThatDoesNotFit) {
  // 248 characters + "_debug" = 254 fits; one more character does not.
  for (size_t length : {248u, 249u}) {
    std::wstring text = L"http://h/" + std::wstring(length - 9 - 5, L'a') + L".html";
    ASSERT_EQ(text.size(), length);
    wchar_t url[kUrlCapacity + 4];
    wmemset(url, L'#', kUrlCapacity + 4);
    wcscpy(url, text.c_str());
    const bool made = MakeDebugUrl(url, kUrlCapacity);
    EXPECT_EQ(made, length == 248u);
    EXPECT_EQ(wcslen(url), made ? length + 6 : length);
    for (size_t i = kUrlCapacity; i < kUrlCapacity + 4; ++i) EXPECT_EQ(url[i], L'#');
  }
}

TEST(IsSafeVersionNameTest, KeepsTheNameInsideTheInstallFolder) {
  const struct {
    const wchar_t* name;
    bool safe;
  } cases[] = {
      {L"1.2.0", true},
      {L"", true},
      {L"2.0 beta (x86)", true},
      {L"..", true},  // pimbrel_mini_...exe still names a file in the folder
      {L"..\\..\\Windows\\x", false},
      {L"../../x", false},
      {L"C:\\x", false},
      {L"1.0:stream", false},
      {L"1.0*", false},
      {L"1.0?", false},
      {L"\"1.0\"", false},
      {L"<1>", false},
      {L"1|0", false},
      {L"1.0\t", false},
      {L"1.0\n", false},
      {L"1\x7f", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsSafeVersionName(c.name), c.safe) << Narrow(c.name);
}

TEST(AppendTextTest, NeverWritesPastItsBuffer) {
  wchar_t buffer[8];
  wmemset(buffer, L'#', 8);
  wcscpy(buffer, L"abc");
  EXPECT_TRUE(AppendText(buffer, 6, L"de"));  // 5 characters + terminator
  EXPECT_STREQ(buffer, L"abcde");
  EXPECT_FALSE(AppendText(buffer, 6, L"f"));
  EXPECT_STREQ(buffer, L"abcde");
  EXPECT_EQ(buffer[6], L'#');
  wchar_t unterminated[4] = {L'x', L'x', L'x', L'x'};
  EXPECT_FALSE(AppendText(unterminated, 4, L""));
}

}  // namespace
