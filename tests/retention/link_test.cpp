#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/owned_handle.h"
#include "backup/retention.h"
#include "support/scratch.h"
#include "support/stdout_capture.h"

namespace {

constexpr DWORD FolderLink = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;

bool IsFolderLink(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FolderLink) == FolderLink;
}

// Waits for a change made by a host process, which cannot be waited for.
template <class Condition>
bool WaitUntil(Condition condition) {
    for (int tries = 0; tries < 400 && !condition(); ++tries) Sleep(50);
    return condition();
}

// This Wine cannot make links itself, but shows a symbolic link of the host
// as a folder with the reparse attribute; the host's tools run through Z:.
std::wstring HostPath(const std::wstring& path) {
    using UnixFileNameFn = char*(CDECL*)(LPCWSTR);
    auto unixName = reinterpret_cast<UnixFileNameFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    char* name = unixName ? unixName(path.c_str()) : nullptr;
    if (!name) return std::wstring();
    std::wstring copy = Widen(name);
    HeapFree(GetProcessHeap(), 0, name);
    return copy;
}

bool RunHostTool(std::wstring commandLine) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        return false;
    }
    KernelHandle processHandle(process.hProcess);
    KernelHandle threadHandle(process.hThread);
    return true;
}

std::vector<std::wstring> Listing(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW entry;
    FindHandle listing(FindFirstFileW((folder + L"\\*").c_str(), &entry));
    if (listing) {
        do {
            names.push_back(entry.cFileName);
        } while (FindNextFileW(listing.get(), &entry));
    }
    return names;
}

TEST(LinkPurge, ALinkInsideAPurgedFolderIsNeverFollowed) {
    ScratchFolder scratch(L"zellink");
    const std::wstring root = scratch / L"root";
    const std::wstring outside = scratch / L"outside";
    const std::wstring dated = root + L"\\2024-05-08";
    const std::wstring link = dated + L"\\S-1-5-21-2000";
    ASSERT_TRUE(CreateDirectoryW(root.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(dated.c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(dated + L"\\SOFTWARE", "hive"));
    // What a followed link would lose: a plain, a read-only and a deeper file.
    ASSERT_TRUE(CreateDirectoryW(outside.c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(outside + L"\\document.txt", "precious"));
    ASSERT_TRUE(WriteFileBytes(outside + L"\\locked.txt", "read-only"));
    ASSERT_TRUE(SetFileAttributesW((outside + L"\\locked.txt").c_str(), FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(CreateDirectoryW((outside + L"\\inner").c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(outside + L"\\inner\\deep.txt", "deep"));
    ASSERT_TRUE(SetFileAttributesW((outside + L"\\inner").c_str(), FILE_ATTRIBUTE_HIDDEN));
    // Hidden, so that clearing the link's attributes through it would show.
    ASSERT_TRUE(SetFileAttributesW(outside.c_str(), FILE_ATTRIBUTE_HIDDEN));
    const DWORD attributes[] = {GetFileAttributesW(outside.c_str()),
                                GetFileAttributesW((outside + L"\\locked.txt").c_str()),
                                GetFileAttributesW((outside + L"\\inner").c_str())};
    const std::wstring hostLink = HostPath(link);
    ASSERT_FALSE(hostLink.empty());
    ASSERT_TRUE(RunHostTool(L"Z:\\bin\\ln -s \"" + HostPath(outside) + L"\" \"" + hostLink + L"\""));
    ASSERT_TRUE(WaitUntil([&] { return IsFolderLink(link); }));

    const std::wstring savedRoot = BackupRoot;
    const int savedDays = RetentionDays;
    wcscpy_s(BackupRoot, root.c_str());
    RetentionDays = -1;
    std::string printed;
    {
        StdoutCapture capture;
        PurgeOldBackups();
        printed = capture.Bytes();
    }
    EXPECT_EQ("", printed);
    wcscpy_s(BackupRoot, savedRoot.c_str());
    RetentionDays = savedDays;

    EXPECT_EQ(attributes[0], GetFileAttributesW(outside.c_str()));
    EXPECT_EQ(attributes[1], GetFileAttributesW((outside + L"\\locked.txt").c_str()));
    EXPECT_EQ(attributes[2], GetFileAttributesW((outside + L"\\inner").c_str()));
    EXPECT_EQ("precious", ReadFileBytes(outside + L"\\document.txt"));
    EXPECT_EQ("read-only", ReadFileBytes(outside + L"\\locked.txt"));
    EXPECT_EQ("deep", ReadFileBytes(outside + L"\\inner\\deep.txt"));
    EXPECT_EQ((std::vector<std::wstring>{L".", L"..", L"document.txt", L"inner", L"locked.txt"}),
              Listing(outside));
    EXPECT_FALSE(FileExists(dated + L"\\SOFTWARE"));
    if (FolderExists(dated)) {
        // This Wine refuses to remove a link to a folder that holds files.
        EXPECT_EQ((std::vector<std::wstring>{L".", L"..", L"S-1-5-21-2000"}), Listing(dated));
    }

    // RemoveDirectoryW would remove an empty target here instead of the link.
    RunHostTool(L"Z:\\bin\\rm -f \"" + hostLink + L"\"");
    EXPECT_TRUE(WaitUntil([&] { return GetFileAttributesW(link.c_str()) == INVALID_FILE_ATTRIBUTES; }));
}

}  // namespace
