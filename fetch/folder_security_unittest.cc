// Wine does not keep file DACLs (a DACL set at creation reads back as Wine's
// default), so these tests check the descriptor that is built and that it is
// handed to the system for both a new and an existing folder, not what the
// file system stores.
// Nor can Wine 8 make a link to refuse: CreateSymbolicLinkW reports success
// and creates nothing, so the link and junction check is not tested here.
#include "fetch/folder_security.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/test_support.h"

namespace {

struct ExpectedAce {
  WELL_KNOWN_SID_TYPE sid;
  ACCESS_MASK mask;
};

// Checks that |descriptor| is the install folders' security: owner
// Administrators, a protected DACL of exactly three allow entries, each
// inherited by files and folders and not itself inherited.
void ExpectInstallFolderSecurity(PSECURITY_DESCRIPTOR descriptor) {
  ASSERT_NE(descriptor, nullptr);
  ASSERT_TRUE(IsValidSecurityDescriptor(descriptor));
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  ASSERT_TRUE(GetSecurityDescriptorControl(descriptor, &control, &revision));
  EXPECT_TRUE(control & SE_DACL_PRESENT);
  EXPECT_TRUE(control & SE_DACL_PROTECTED) << "entries of ProgramData would be inherited";

  BYTE sidBuffer[SECURITY_MAX_SID_SIZE];
  DWORD sidSize = sizeof(sidBuffer);
  ASSERT_TRUE(CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, sidBuffer, &sidSize));
  PSID owner = nullptr;
  BOOL defaulted = FALSE;
  ASSERT_TRUE(GetSecurityDescriptorOwner(descriptor, &owner, &defaulted));
  ASSERT_NE(owner, nullptr);
  EXPECT_TRUE(EqualSid(owner, sidBuffer)) << "owner is not Administrators";

  BOOL present = FALSE;
  PACL dacl = nullptr;
  ASSERT_TRUE(GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted));
  ASSERT_TRUE(present);
  ASSERT_NE(dacl, nullptr) << "a null DACL grants everyone everything";
  ACL_SIZE_INFORMATION info = {};
  ASSERT_TRUE(GetAclInformation(dacl, &info, sizeof(info), AclSizeInformation));
  ASSERT_EQ(info.AceCount, 3u);

  const ExpectedAce expected[] = {
      {WinLocalSystemSid, FILE_ALL_ACCESS},
      {WinBuiltinAdministratorsSid, FILE_ALL_ACCESS},
      {WinBuiltinUsersSid, FILE_GENERIC_READ | FILE_GENERIC_EXECUTE},
  };
  for (DWORD i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    void* raw = nullptr;
    ASSERT_TRUE(GetAce(dacl, i, &raw));
    const ACE_HEADER* header = static_cast<const ACE_HEADER*>(raw);
    ASSERT_EQ(header->AceType, ACCESS_ALLOWED_ACE_TYPE);
    EXPECT_EQ(header->AceFlags, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
    const ACCESS_ALLOWED_ACE* ace = static_cast<const ACCESS_ALLOWED_ACE*>(raw);
    EXPECT_EQ(ace->Mask, expected[i].mask);
    sidSize = sizeof(sidBuffer);
    ASSERT_TRUE(CreateWellKnownSid(expected[i].sid, nullptr, sidBuffer, &sidSize));
    EXPECT_TRUE(EqualSid(const_cast<DWORD*>(&ace->SidStart), sidBuffer));
  }
  // Users may read and run, never add, change, delete or re-permit.
  const ACCESS_MASK usersMask = expected[2].mask;
  EXPECT_EQ(usersMask, 0x1200a9u);
  const ACCESS_MASK deniedToUsers[] = {
      FILE_WRITE_DATA,       FILE_APPEND_DATA, FILE_WRITE_EA, FILE_DELETE_CHILD,
      FILE_WRITE_ATTRIBUTES, DELETE,           WRITE_DAC,     WRITE_OWNER};
  for (ACCESS_MASK denied : deniedToUsers) {
    EXPECT_EQ(usersMask & denied, 0u) << std::hex << denied;
  }
}

TEST(FolderSecurityTest, DescriptorIsProtectedWithExactlyThreeEntries) {
  PSECURITY_DESCRIPTOR descriptor = BuildInstallFolderSecurity();
  ExpectInstallFolderSecurity(descriptor);
  LocalFree(descriptor);
}

// What the recorder saw of each SetNamedSecurityInfoW call.
struct SecurityCall {
  std::wstring path;
  SE_OBJECT_TYPE type;
  SECURITY_INFORMATION what;
  std::vector<BYTE> descriptor;  // owner and DACL as handed over, self-relative
  DWORD result;
  bool renameRefused;  // the folder could not be moved away meanwhile
};
std::vector<SecurityCall> g_calls;

DWORD WINAPI RecordSecurityCall(LPWSTR path, SE_OBJECT_TYPE type, SECURITY_INFORMATION what,
                                PSID owner, PSID group, PACL dacl, PACL sacl) {
  std::wstring folder = path;
  while (!folder.empty() && folder.back() == L'\\') folder.pop_back();
  const std::wstring moved = folder + L".moved";
  const bool renamed = MoveFileW(folder.c_str(), moved.c_str()) != 0;
  if (renamed) MoveFileW(moved.c_str(), folder.c_str());
  SecurityCall call = {path, type, what, {}, 0, !renamed};
  SECURITY_DESCRIPTOR absolute;
  InitializeSecurityDescriptor(&absolute, SECURITY_DESCRIPTOR_REVISION);
  SetSecurityDescriptorOwner(&absolute, owner, FALSE);
  SetSecurityDescriptorDacl(&absolute, TRUE, dacl, FALSE);
  if (what & PROTECTED_DACL_SECURITY_INFORMATION) {
    SetSecurityDescriptorControl(&absolute, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
  }
  DWORD size = 0;
  MakeSelfRelativeSD(&absolute, nullptr, &size);
  call.descriptor.resize(size);
  MakeSelfRelativeSD(&absolute, call.descriptor.data(), &size);
  call.result = SetNamedSecurityInfoW(path, type, what, owner, group, dacl, sacl);
  g_calls.push_back(call);
  return call.result;
}

DWORD WINAPI RefuseSecurityCall(LPWSTR, SE_OBJECT_TYPE, SECURITY_INFORMATION, PSID, PSID, PACL,
                                PACL) {
  return ERROR_ACCESS_DENIED;
}

class ProtectedFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = MakeTempDirectory(L"folder");
    ASSERT_FALSE(dir_.empty());
    g_calls.clear();
    g_setNamedSecurityInfo = RecordSecurityCall;
  }
  void TearDown() override {
    g_setNamedSecurityInfo = SetNamedSecurityInfoW;
    RemoveTree(dir_);
  }
  std::wstring dir_;
};

TEST_F(ProtectedFolderTest, NewAndExistingFoldersGetTheProtectedDacl) {
  const std::wstring fresh = dir_ + L"\\Pimbrel\\";
  const std::wstring existing = dir_ + L"\\made by a user";
  ASSERT_TRUE(CreateDirectoryW(existing.c_str(), nullptr));
  // The doubled separator of the install path is a path like any other.
  const std::wstring doubled = dir_ + L"\\Pimbrel\\\\Install\\";
  for (const std::wstring& path : {fresh, existing, doubled}) {
    SCOPED_TRACE(Narrow(path));
    g_calls.clear();
    EXPECT_TRUE(CreateProtectedFolder(path.c_str()));
    EXPECT_TRUE(GetFileAttributesW(path.c_str()) & FILE_ATTRIBUTE_DIRECTORY);
    ASSERT_EQ(g_calls.size(), 1u);
    EXPECT_EQ(g_calls[0].path, path);
    EXPECT_EQ(g_calls[0].type, SE_FILE_OBJECT);
    EXPECT_EQ(g_calls[0].what, static_cast<SECURITY_INFORMATION>(
                                   OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
                                   PROTECTED_DACL_SECURITY_INFORMATION));
    EXPECT_EQ(g_calls[0].result, static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_TRUE(g_calls[0].renameRefused) << "the folder could be swapped for a link meanwhile";
    ExpectInstallFolderSecurity(g_calls[0].descriptor.data());
  }
}

TEST_F(ProtectedFolderTest, RefusesWhatIsNoFolderOfItsOwn) {
  const std::wstring file = dir_ + L"\\Pimbrel";
  ASSERT_TRUE(WriteFileBytes(file, "not a folder"));
  EXPECT_FALSE(CreateProtectedFolder(file.c_str()));
  EXPECT_FALSE(CreateProtectedFolder((dir_ + L"\\missing\\Install").c_str())) << "no parent";
  EXPECT_FALSE(CreateProtectedFolder((dir_ + L"\\" + std::wstring(300, L'a')).c_str()));
  EXPECT_TRUE(g_calls.empty()) << "security applied to something that is not a folder";
}

TEST_F(ProtectedFolderTest, AFailedApplicationIsAFailure) {
  g_setNamedSecurityInfo = RefuseSecurityCall;
  EXPECT_FALSE(CreateProtectedFolder((dir_ + L"\\Pimbrel").c_str()));
}

}  // namespace
