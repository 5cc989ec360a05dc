#include "fetch/installer_check.h"

#include <gtest/gtest.h>

#include <string>

#include "fetch/manifest.h"
#include "tests/test_support.h"

namespace {

std::string Hex(const unsigned char* digest) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (size_t i = 0; i < kSha256Size; ++i) {
    text += kDigits[digest[i] >> 4];
    text += kDigits[digest[i] & 15];
  }
  return text;
}

bool DigestOf(const std::string& hex, unsigned char* digest) {
  const std::string text = "{\"pc\":{\"sha256\":\"" + hex + "\"}}";
  return ReadInstallerPin(text.c_str(), digest) == kPinValid;
}

class InstallerCheckTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = MakeTempDirectory(L"check");
    ASSERT_FALSE(dir_.empty());
    path_ = dir_ + L"\\pimbrel_mini_1.0.exe";
  }
  void TearDown() override { RemoveTree(dir_); }

  std::wstring dir_, path_;
};

TEST_F(InstallerCheckTest, HashesWholeFilesAcrossReadChunks) {
  const struct {
    const char* what;
    std::string bytes;
    const char* sha256;
  } cases[] = {
      {"empty", "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"two blocks", "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      // Many read chunks, the last one partly filled.
      {"a million a", std::string(1000000, 'a'),
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(WriteFileBytes(path_, c.bytes));
    HANDLE file = CreateFileW(path_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    unsigned char digest[kSha256Size] = {};
    EXPECT_TRUE(HashFileSha256(file, digest));
    CloseHandle(file);
    EXPECT_EQ(Hex(digest), c.sha256);
  }
}

TEST_F(InstallerCheckTest, OpensOnlyAMatchingFile) {
  ASSERT_TRUE(WriteFileBytes(path_, "abc"));
  unsigned char abc[kSha256Size], other[kSha256Size];
  ASSERT_TRUE(DigestOf("BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD", abc));
  ASSERT_TRUE(DigestOf("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ae", other));

  HANDLE held = OpenVerifiedFile(path_.c_str(), abc);
  EXPECT_NE(held, INVALID_HANDLE_VALUE);
  if (held != INVALID_HANDLE_VALUE) CloseHandle(held);

  // A file that differs in the last bit of its digest is refused and not
  // kept open: it can be removed at once.
  EXPECT_EQ(OpenVerifiedFile(path_.c_str(), other), INVALID_HANDLE_VALUE);
  EXPECT_TRUE(DeleteFileW(path_.c_str())) << "a refused file was left open";
  EXPECT_EQ(OpenVerifiedFile(path_.c_str(), abc), INVALID_HANDLE_VALUE) << "missing file";
  ASSERT_TRUE(CreateDirectoryW(path_.c_str(), nullptr));
  EXPECT_EQ(OpenVerifiedFile(path_.c_str(), abc), INVALID_HANDLE_VALUE) << "a folder";
}

TEST_F(InstallerCheckTest, HeldFileCannotBeChangedReplacedOrRemoved) {
  ASSERT_TRUE(WriteFileBytes(path_, "abc"));
  const std::wstring planted = dir_ + L"\\planted.exe";
  const std::wstring moved = dir_ + L"\\moved.exe";
  ASSERT_TRUE(WriteFileBytes(planted, "evil"));
  unsigned char abc[kSha256Size];
  ASSERT_TRUE(DigestOf("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad", abc));
  HANDLE held = OpenVerifiedFile(path_.c_str(), abc);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);

  const DWORD shareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  const struct {
    const char* what;
    DWORD access;
    DWORD share;
    bool opens;
  } opens[] = {
      {"write", GENERIC_WRITE, shareAll, false},
      {"append", FILE_APPEND_DATA, shareAll, false},
      {"delete access", DELETE, shareAll, false},
      {"read and write", GENERIC_READ | GENERIC_WRITE, shareAll, false},
      // What the loader needs to map the image still works.
      {"read and execute", GENERIC_READ | GENERIC_EXECUTE, FILE_SHARE_READ | FILE_SHARE_DELETE,
       true},
  };
  for (const auto& o : opens) {
    SCOPED_TRACE(o.what);
    HANDLE other =
        CreateFileW(path_.c_str(), o.access, o.share, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(other != INVALID_HANDLE_VALUE, o.opens);
    if (other != INVALID_HANDLE_VALUE) {
      CloseHandle(other);
    } else {
      EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    }
  }
  EXPECT_FALSE(DeleteFileW(path_.c_str()));
  EXPECT_FALSE(MoveFileExW(planted.c_str(), path_.c_str(), MOVEFILE_REPLACE_EXISTING));
  EXPECT_FALSE(MoveFileW(path_.c_str(), moved.c_str()));
  EXPECT_EQ(ReadFileBytes(path_), "abc");

  CloseHandle(held);
  EXPECT_TRUE(MoveFileExW(planted.c_str(), path_.c_str(), MOVEFILE_REPLACE_EXISTING))
      << "the file stays locked after its handle is closed";
}

}  // namespace
