#include <gtest/gtest.h>

#include <map>
#include <string>

#include "app/process_state.h"
#include "backup/dated_run.h"
#include "fs/secure_folder.h"
#include "support/scratch.h"
#include "support/stdout_capture.h"

namespace {

// Folders created during the run, each with whether it was handed a DACL
// protected from inheritance with exactly the two entries.
std::map<std::wstring, bool> Created;

bool IsProtectedTwoEntryDacl(LPSECURITY_ATTRIBUTES attributes) {
    if (!attributes || !attributes->lpSecurityDescriptor) return false;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    ACL_SIZE_INFORMATION size{};
    return GetSecurityDescriptorControl(attributes->lpSecurityDescriptor, &control, &revision) &&
           (control & SE_DACL_PROTECTED) &&
           GetSecurityDescriptorDacl(attributes->lpSecurityDescriptor, &present, &dacl,
                                     &defaulted) &&
           present && dacl &&
           GetAclInformation(dacl, &size, sizeof(size), AclSizeInformation) &&
           size.AceCount == 2;
}

BOOL WINAPI RecordingCreateDirectory(LPCWSTR path, LPSECURITY_ATTRIBUTES attributes) {
    Created[path] = IsProtectedTwoEntryDacl(attributes);
    return CreateDirectoryW(path, attributes);
}

TEST(ProtectedFolders, DatedAndProfileFoldersAreCreatedForSystemAndAdministratorsOnly) {
    ScratchFolder root(L"zelprotected");
    std::wstring savedRoot = BackupRoot;
    wcscpy_s(BackupRoot, root.path().c_str());
    Created.clear();
    CreateDirectoryEntry = RecordingCreateDirectory;
    {
        StdoutCapture quiet;
        RunDatedBackup();
    }
    CreateDirectoryEntry = CreateDirectoryW;
    wcscpy_s(BackupRoot, savedRoot.c_str());

    const std::wstring dated = root / TodayFolderName();
    ASSERT_TRUE(Created.count(dated));
    EXPECT_TRUE(Created[dated]);

    // Every folder inside the backup (one per profile) came through that path.
    int profileFolders = 0;
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW((dated + L"\\*").c_str(), &entry);
    ASSERT_NE(INVALID_HANDLE_VALUE, find);
    do {
        std::wstring name = entry.cFileName;
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || name == L"." || name == L"..")
            continue;
        ++profileFolders;
        ASSERT_TRUE(Created.count(dated + L"\\" + name)) << Narrow(name);
        EXPECT_TRUE(Created[dated + L"\\" + name]) << Narrow(name);
    } while (FindNextFileW(find, &entry));
    FindClose(find);
    EXPECT_GE(profileFolders, 1) << "Wine's own profile gets a folder";
}

}  // namespace
