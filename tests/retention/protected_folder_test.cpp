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
    SetLastError(0xdeadbeef);
    ASSERT_TRUE(BuildProtectedFolderSecurity(&security)) << GetLastError();
    EXPECT_EQ(sizeof(SECURITY_ATTRIBUTES), security.attributes.nLength);
    EXPECT_EQ(&security.descriptor, security.attributes.lpSecurityDescriptor);

    PSECURITY_DESCRIPTOR descriptor = security.attributes.lpSecurityDescriptor;
    SECURITY_DESCRIPTOR_CONTROL control = 0xFFFF;
    DWORD revision = 0xdeadbeef;
    ASSERT_TRUE(GetSecurityDescriptorControl(descriptor, &control, &revision));
    EXPECT_EQ(SE_DACL_PRESENT | SE_DACL_PROTECTED, control);

    BOOL present = FALSE;
    BOOL defaulted = TRUE;
    PACL dacl = nullptr;
    ASSERT_TRUE(GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted));
    ASSERT_TRUE(present && dacl);
    EXPECT_FALSE(defaulted);
    ACL_SIZE_INFORMATION size;
    memset(&size, 0xA5, sizeof(size));
    ASSERT_TRUE(GetAclInformation(dacl, &size, sizeof(size), AclSizeInformation));
    ASSERT_EQ(2u, size.AceCount);

    const char* expectedSids[] = {"S-1-5-18", "S-1-5-32-544"};
    for (DWORD i = 0; i < 2; ++i) {
        void* raw = nullptr;
        ASSERT_TRUE(GetAce(dacl, i, &raw));
        auto* ace = static_cast<ACCESS_ALLOWED_ACE*>(raw);
        EXPECT_EQ(ACCESS_ALLOWED_ACE_TYPE, ace->Header.AceType) << i;
        EXPECT_EQ(OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE, ace->Header.AceFlags) << i;
        EXPECT_EQ(0x001F01FFu, ace->Mask) << i;  // FILE_ALL_ACCESS, not GENERIC_ALL
        EXPECT_EQ(expectedSids[i], SidText(&ace->SidStart)) << i;
    }
}

TEST(CreateProtectedDirectory, MakesANewFolderAndLeavesAnExistingOneAsItIs) {
    ScratchFolder scratch(L"zelsecure");
    const std::wstring folder = scratch / L"ZEL";
    SetLastError(0xdeadbeef);
    ASSERT_TRUE(CreateProtectedDirectory(folder.c_str())) << GetLastError();
    EXPECT_TRUE(FolderExists(folder));

    ASSERT_TRUE(WriteFileBytes(folder + L"\\SAM", "old"));
    ASSERT_TRUE(SetFileAttributesW(folder.c_str(), FILE_ATTRIBUTE_HIDDEN));
    const DWORD before = GetFileAttributesW(folder.c_str());
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(CreateProtectedDirectory(folder.c_str()));
    EXPECT_EQ(DWORD(ERROR_ALREADY_EXISTS), GetLastError());
    EXPECT_EQ(before, GetFileAttributesW(folder.c_str()));
    EXPECT_EQ("old", ReadFileBytes(folder + L"\\SAM"));
}

}  // namespace
