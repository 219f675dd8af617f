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

// Waits for a change made by a process that cannot be waited for.
template <class Condition>
bool WaitUntil(Condition condition) {
    for (int tries = 0; tries < 400; ++tries) {
        if (condition()) return true;
        Sleep(50);
    }
    return condition();
}

// This Wine answers TRUE to CreateSymbolicLinkW without making anything, but
// shows a symbolic link of the host as a folder with the reparse attribute.
// Such a link is made with the host's ln, started through the Z: drive.
using UnixFileNameFn = char*(CDECL*)(LPCWSTR);

std::string HostPath(const std::wstring& path) {
    auto unixName = reinterpret_cast<UnixFileNameFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (!unixName) return std::string();
    char* name = unixName(path.c_str());
    if (!name) return std::string();
    std::string copy = name;
    HeapFree(GetProcessHeap(), 0, name);
    return copy;
}

bool RunHostTool(const std::wstring& commandLine) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
    line.push_back(L'\0');
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
        return false;
    }
    KernelHandle processHandle(process.hProcess);
    KernelHandle threadHandle(process.hThread);
    return true;
}

class FolderLinks {
public:
    FolderLinks() = default;
    FolderLinks(const FolderLinks&) = delete;
    FolderLinks& operator=(const FolderLinks&) = delete;
    ~FolderLinks() {
        for (const std::wstring& link : hostLinks_) {
            // RemoveDirectoryW is not used here: this Wine would remove an
            // empty target instead of the link.
            RunHostTool(L"Z:\\bin\\rm -f \"" + Widen(HostPath(link)) + L"\"");
            WaitUntil([&] { return GetFileAttributesW(link.c_str()) == INVALID_FILE_ATTRIBUTES; });
        }
    }

    bool Make(const std::wstring& link, const std::wstring& target) {
        if (CreateSymbolicLinkW(link.c_str(), target.c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY) &&
            IsFolderLink(link)) {
            return true;
        }
        const std::string hostLink = HostPath(link);
        const std::string hostTarget = HostPath(target);
        if (hostLink.empty() || hostTarget.empty()) return false;
        if (!RunHostTool(L"Z:\\bin\\ln -s \"" + Widen(hostTarget) + L"\" \"" + Widen(hostLink) + L"\"")) {
            return false;
        }
        hostLinks_.push_back(link);
        return WaitUntil([&] { return IsFolderLink(link); });
    }

private:
    std::vector<std::wstring> hostLinks_;
};

std::vector<std::wstring> Listing(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW entry;
    FindHandle listing(FindFirstFileW((folder + L"\\*").c_str(), &entry));
    if (!listing) return names;
    do {
        names.push_back(entry.cFileName);
    } while (FindNextFileW(listing.get(), &entry));
    return names;
}

class LinkPurge : public ::testing::Test {
protected:
    void SetUp() override {
        savedRoot_ = BackupRoot;
        savedDays_ = RetentionDays;
        root_ = scratch_ / L"root";
        outside_ = scratch_ / L"outside";
        ASSERT_TRUE(CreateDirectoryW(root_.c_str(), nullptr));
        wcscpy_s(BackupRoot, root_.c_str());
        RetentionDays = -1;

        // The folder a link points to, outside the backup root, with files
        // that a followed link would lose.
        ASSERT_TRUE(CreateDirectoryW(outside_.c_str(), nullptr));
        ASSERT_TRUE(WriteFileBytes(outside_ + L"\\document.txt", "precious"));
        ASSERT_TRUE(WriteFileBytes(outside_ + L"\\locked.txt", "read-only"));
        ASSERT_TRUE(SetFileAttributesW((outside_ + L"\\locked.txt").c_str(), FILE_ATTRIBUTE_READONLY));
        ASSERT_TRUE(CreateDirectoryW((outside_ + L"\\inner").c_str(), nullptr));
        ASSERT_TRUE(WriteFileBytes(outside_ + L"\\inner\\deep.txt", "deep"));
        ASSERT_TRUE(SetFileAttributesW((outside_ + L"\\inner").c_str(), FILE_ATTRIBUTE_HIDDEN));
        outsideAttributes_ = GetFileAttributesW(outside_.c_str());
        lockedAttributes_ = GetFileAttributesW((outside_ + L"\\locked.txt").c_str());
        innerAttributes_ = GetFileAttributesW((outside_ + L"\\inner").c_str());
    }
    void TearDown() override {
        wcscpy_s(BackupRoot, savedRoot_.c_str());
        RetentionDays = savedDays_;
    }

    void ExpectOutsideUntouched() {
        EXPECT_EQ(outsideAttributes_, GetFileAttributesW(outside_.c_str()));
        EXPECT_EQ("precious", ReadFileBytes(outside_ + L"\\document.txt"));
        EXPECT_EQ("read-only", ReadFileBytes(outside_ + L"\\locked.txt"));
        EXPECT_EQ(lockedAttributes_, GetFileAttributesW((outside_ + L"\\locked.txt").c_str()));
        EXPECT_EQ(innerAttributes_, GetFileAttributesW((outside_ + L"\\inner").c_str()));
        EXPECT_EQ("deep", ReadFileBytes(outside_ + L"\\inner\\deep.txt"));
        EXPECT_EQ((std::vector<std::wstring>{L".", L"..", L"document.txt", L"inner", L"locked.txt"}),
                  Listing(outside_));
    }

    ScratchFolder scratch_{L"zellink"};
    FolderLinks links_;  // removed before the scratch folder goes
    std::wstring root_;
    std::wstring outside_;
    DWORD outsideAttributes_ = 0;
    DWORD lockedAttributes_ = 0;
    DWORD innerAttributes_ = 0;

private:
    std::wstring savedRoot_;
    int savedDays_ = 0;
};

TEST_F(LinkPurge, ALinkInsideAPurgedFolderIsNeverFollowed) {
    const std::wstring dated = root_ + L"\\2024-05-08";
    const std::wstring link = dated + L"\\S-1-5-21-2000";
    ASSERT_TRUE(CreateDirectoryW(dated.c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(dated + L"\\SOFTWARE", "hive"));
    ASSERT_TRUE(links_.Make(link, outside_));
    ASSERT_EQ(DWORD(FILE_ATTRIBUTE_DIRECTORY), GetFileAttributesW(outside_.c_str()) & FolderLink);

    StdoutCapture capture;
    PurgeOldBackups();
    EXPECT_EQ("", capture.Bytes());

    ExpectOutsideUntouched();
    EXPECT_FALSE(FileExists(dated + L"\\SOFTWARE"));
    if (FolderExists(dated)) {
        // This Wine refuses to remove a link to a folder that holds files
        // (ERROR_DIR_NOT_EMPTY), so the link and its dated folder stay.
        EXPECT_TRUE(IsFolderLink(link));
        EXPECT_EQ((std::vector<std::wstring>{L".", L"..", L"S-1-5-21-2000"}), Listing(dated));
    } else {
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(link.c_str()));
    }
}

TEST_F(LinkPurge, ALinkCarryingADatedNameIsOnlyRemovedAsALink) {
    const std::wstring link = root_ + L"\\2024-05-09";
    ASSERT_TRUE(links_.Make(link, outside_));

    StdoutCapture capture;
    PurgeOldBackups();
    EXPECT_EQ("", capture.Bytes());

    ExpectOutsideUntouched();
    const DWORD attributes = GetFileAttributesW(link.c_str());
    EXPECT_TRUE(attributes == INVALID_FILE_ATTRIBUTES || (attributes & FolderLink) == FolderLink)
        << std::hex << attributes;
}

}  // namespace
