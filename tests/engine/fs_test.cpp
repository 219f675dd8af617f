#include <gtest/gtest.h>

#include "fs/directory_probe.h"
#include "fs/text_file.h"
#include "support/scratch.h"

namespace {

WIN32_FIND_DATAW PoisonedEntry() {
    WIN32_FIND_DATAW entry;
    memset(&entry, 0xAB, sizeof(entry));
    return entry;
}

TEST(IsDirectory, FolderGivesDirectoryAttributeAndItsName) {
    ScratchFolder folder;
    std::wstring dated = folder / L"2024-05-01";
    ASSERT_TRUE(CreateDirectoryW(dated.c_str(), nullptr));
    WIN32_FIND_DATAW entry = PoisonedEntry();

    EXPECT_EQ(16u, IsDirectory(dated.c_str(), &entry));
    EXPECT_STREQ(L"2024-05-01", entry.cFileName);
}

TEST(IsDirectory, FileGivesZeroAndDescribesTheFile) {
    ScratchFolder folder;
    ASSERT_TRUE(WriteFileBytes(folder / L"plain.txt", "x"));
    WIN32_FIND_DATAW entry = PoisonedEntry();

    EXPECT_EQ(0u, IsDirectory((folder / L"plain.txt").c_str(), &entry));
    EXPECT_STREQ(L"plain.txt", entry.cFileName);
    EXPECT_EQ(0u, entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

TEST(IsDirectory, PrefixedPathIsNotPrefixedAgain) {
    ScratchFolder folder;
    std::wstring prefixed = L"\\\\?\\" + folder.path();
    WIN32_FIND_DATAW entry = PoisonedEntry();

    EXPECT_EQ(16u, IsDirectory(prefixed.c_str(), &entry));
}

TEST(IsDirectory, MissingAndRelativePathsGiveZero) {
    ScratchFolder folder;
    WIN32_FIND_DATAW entry = PoisonedEntry();
    EXPECT_EQ(0u, IsDirectory((folder / L"missing").c_str(), &entry));

    // Relative names are never resolved against the current folder.
    wchar_t saved[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, saved);
    ASSERT_TRUE(CreateDirectoryW((folder / L"backup").c_str(), nullptr));
    SetCurrentDirectoryW(folder.path().c_str());
    DWORD relative = IsDirectory(L"backup", &entry);
    SetCurrentDirectoryW(saved);
    EXPECT_EQ(0u, relative);
}

TEST(IsDirectory, PathTooLongForTheProbeGivesZero) {
    std::wstring huge = L"C:\\" + std::wstring(5000, L'a');
    WIN32_FIND_DATAW entry = PoisonedEntry();
    EXPECT_EQ(0u, IsDirectory(huge.c_str(), &entry));
}

TEST(WriteTextFile, WritesUtf16WithoutMarkOrTerminator) {
    ScratchFolder folder;
    std::wstring file = folder / L"NTUSER.DAT.txt";

    EXPECT_TRUE(WriteTextFile(file.c_str(), L"\\USERS\\A\\NTUSER.DAT"));
    std::string bytes = ReadFileBytes(file);
    ASSERT_EQ(38u, bytes.size());
    EXPECT_EQ(std::string("\x5C\x00\x55\x00", 4), bytes.substr(0, 4));
    EXPECT_EQ(std::string("\x54\x00", 2), bytes.substr(36));
}

TEST(WriteTextFile, EmptyTextGivesAnEmptyFile) {
    ScratchFolder folder;
    std::wstring file = folder / L"empty.txt";
    bool read = false;

    EXPECT_TRUE(WriteTextFile(file.c_str(), L""));
    EXPECT_EQ("", ReadFileBytes(file, &read));
    EXPECT_TRUE(read);
}

TEST(WriteTextFile, LongerOldFileIsTruncated) {
    ScratchFolder folder;
    std::wstring file = folder / L"sysdir.txt";
    ASSERT_TRUE(WriteFileBytes(file, std::string(1000, 'z')));

    EXPECT_TRUE(WriteTextFile(file.c_str(), L"ab"));
    EXPECT_EQ(std::string("a\0b\0", 4), ReadFileBytes(file));
}


}  // namespace
