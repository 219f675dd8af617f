#include <gtest/gtest.h>

#include <windows.h>
#include <sddl.h>

#include <string>

#include "fs/secure_folder.h"
#include "support/scratch.h"

namespace {

std::string SidText(PSID sid) {
    wchar_t* text = nullptr;
    if (!ConvertSidToStringSidW(sid, &text)) return "(no SID text)";
    std::string narrow = Narrow(text);
    LocalFree(text);
    return narrow;
}

TEST(ProtectedFolderSecurity, AProtectedDaclWithFullControlForSystemAndAdministratorsOnly) {
    ProtectedFolderSecurity security;
    security.attributes.nLength = 0xdeadbeef;
    security.attributes.bInheritHandle = TRUE;
    SetLastError(0xdeadbeef);
    ASSERT_TRUE(BuildProtectedFolderSecurity(&security)) << GetLastError();

    EXPECT_EQ(sizeof(SECURITY_ATTRIBUTES), security.attributes.nLength);
    EXPECT_EQ(&security.descriptor, security.attributes.lpSecurityDescriptor);
    EXPECT_FALSE(security.attributes.bInheritHandle);

    PSECURITY_DESCRIPTOR descriptor = security.attributes.lpSecurityDescriptor;
    EXPECT_TRUE(IsValidSecurityDescriptor(descriptor));
    SECURITY_DESCRIPTOR_CONTROL control = 0xFFFF;
    DWORD revision = 0xdeadbeef;
    ASSERT_TRUE(GetSecurityDescriptorControl(descriptor, &control, &revision));
    EXPECT_EQ(DWORD(SECURITY_DESCRIPTOR_REVISION), revision);
    // Present, protected from inheritance, not defaulted, nothing else.
    EXPECT_EQ(SE_DACL_PRESENT | SE_DACL_PROTECTED, control);

    BOOL present = FALSE;
    BOOL defaulted = TRUE;
    PACL dacl = nullptr;
    ASSERT_TRUE(GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted));
    EXPECT_TRUE(present);
    EXPECT_FALSE(defaulted);
    ASSERT_NE(nullptr, dacl);
    EXPECT_TRUE(IsValidAcl(dacl));

    ACL_SIZE_INFORMATION size;
    memset(&size, 0xA5, sizeof(size));
    ASSERT_TRUE(GetAclInformation(dacl, &size, sizeof(size), AclSizeInformation));
    ASSERT_EQ(2u, size.AceCount);
    EXPECT_EQ(0u, size.AclBytesFree);

    const char* expectedSids[] = {"S-1-5-18", "S-1-5-32-544"};
    for (DWORD i = 0; i < 2; ++i) {
        void* raw = nullptr;
        ASSERT_TRUE(GetAce(dacl, i, &raw));
        auto* ace = static_cast<ACCESS_ALLOWED_ACE*>(raw);
        EXPECT_EQ(ACCESS_ALLOWED_ACE_TYPE, ace->Header.AceType) << i;
        EXPECT_EQ(OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE, ace->Header.AceFlags) << i;
        // Full control spelled out for files and folders, not GENERIC_ALL.
        EXPECT_EQ(DWORD(FILE_ALL_ACCESS), ace->Mask) << i;
        EXPECT_EQ(0x001F01FFu, ace->Mask) << i;
        EXPECT_EQ(expectedSids[i], SidText(&ace->SidStart)) << i;
    }

    // No owner or group of its own: the creator's token supplies them.
    PSID owner = &security;
    BOOL ownerDefaulted = TRUE;
    ASSERT_TRUE(GetSecurityDescriptorOwner(descriptor, &owner, &ownerDefaulted));
    EXPECT_EQ(nullptr, owner);
}

TEST(ProtectedFolderSecurity, EachBuildPointsIntoItsOwnRecord) {
    ProtectedFolderSecurity first;
    ProtectedFolderSecurity second;
    ASSERT_TRUE(BuildProtectedFolderSecurity(&first));
    ASSERT_TRUE(BuildProtectedFolderSecurity(&second));
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    ASSERT_TRUE(GetSecurityDescriptorDacl(second.attributes.lpSecurityDescriptor, &present, &dacl,
                                          &defaulted));
    EXPECT_EQ(static_cast<void*>(second.acl), static_cast<void*>(dacl));
    EXPECT_EQ(&second.descriptor, second.attributes.lpSecurityDescriptor);
    EXPECT_EQ(&first.descriptor, first.attributes.lpSecurityDescriptor);
}

TEST(CreateProtectedDirectory, MakesANewFolder) {
    ScratchFolder scratch(L"zelsecure");
    const std::wstring folder = scratch / L"ZEL";
    SetLastError(0xdeadbeef);
    EXPECT_TRUE(CreateProtectedDirectory(folder.c_str())) << GetLastError();
    EXPECT_TRUE(FolderExists(folder));
    // The new folder takes files like any other.
    EXPECT_TRUE(WriteFileBytes(folder + L"\\SYSTEM", "hive"));
    EXPECT_EQ("hive", ReadFileBytes(folder + L"\\SYSTEM"));
}

TEST(CreateProtectedDirectory, LeavesAnExistingFolderAsItIs) {
    ScratchFolder scratch(L"zelsecure");
    const std::wstring folder = scratch / L"2024-05-01";
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(folder + L"\\SAM", "old"));
    ASSERT_TRUE(SetFileAttributesW(folder.c_str(), FILE_ATTRIBUTE_HIDDEN));
    const DWORD before = GetFileAttributesW(folder.c_str());

    SetLastError(0xdeadbeef);
    EXPECT_FALSE(CreateProtectedDirectory(folder.c_str()));
    EXPECT_EQ(DWORD(ERROR_ALREADY_EXISTS), GetLastError());

    EXPECT_EQ(before, GetFileAttributesW(folder.c_str()));
    EXPECT_EQ("old", ReadFileBytes(folder + L"\\SAM"));
}

TEST(CreateProtectedDirectory, AMissingParentIsReported) {
    ScratchFolder scratch(L"zelsecure");
    const std::wstring folder = scratch / L"missing\\S-1-5-18";
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(CreateProtectedDirectory(folder.c_str()));
    EXPECT_EQ(DWORD(ERROR_PATH_NOT_FOUND), GetLastError());
    EXPECT_FALSE(FolderExists(scratch / L"missing"));
}

}  // namespace
