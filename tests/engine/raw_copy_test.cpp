#include <gtest/gtest.h>

#include "app/owned_handle.h"
#include "backup/raw_copy.h"
#include "support/scratch.h"

namespace {

std::string PatternBytes(size_t size) {
    std::string bytes(size, '\0');
    unsigned value = 12345;
    for (size_t i = 0; i < size; ++i) {
        value = value * 1103515245u + 12345u;
        bytes[i] = static_cast<char>(value >> 16);
    }
    return bytes;
}

class RawCopy : public ::testing::TestWithParam<size_t> {
protected:
    ScratchFolder folder_;
};

TEST_P(RawCopy, CopiesEveryByte) {
    std::string bytes = PatternBytes(GetParam());
    std::wstring source = folder_ / L"source";
    std::wstring destination = folder_ / L"destination";
    ASSERT_TRUE(WriteFileBytes(source, bytes));
    LastCopyError = 0xdeadbeef;

    EXPECT_TRUE(CopyFileRaw(source.c_str(), destination.c_str()));
    EXPECT_EQ(0u, LastCopyError);
    bool read = false;
    std::string copied = ReadFileBytes(destination, &read);
    ASSERT_TRUE(read);
    EXPECT_EQ(bytes.size(), copied.size());
    EXPECT_TRUE(bytes == copied);
}

// Empty, one chunk exactly, two chunks and a rest, and many chunks.
INSTANTIATE_TEST_SUITE_P(Sizes, RawCopy, ::testing::Values(0, 131072, 300000, 5 * 1024 * 1024 + 17));

class RawCopyDestination : public ::testing::TestWithParam<DWORD> {
protected:
    ScratchFolder folder_;
};

TEST_P(RawCopyDestination, ReplacesAProtectedFile) {
    std::wstring source = folder_ / L"source";
    std::wstring destination = folder_ / L"destination";
    ASSERT_TRUE(WriteFileBytes(source, "new hive"));
    ASSERT_TRUE(WriteFileBytes(destination, "an older and longer hive"));
    ASSERT_TRUE(SetFileAttributesW(destination.c_str(), GetParam()));

    EXPECT_TRUE(CopyFileRaw(source.c_str(), destination.c_str()));
    EXPECT_EQ(0u, LastCopyError);
    EXPECT_EQ("new hive", ReadFileBytes(destination));
}

INSTANTIATE_TEST_SUITE_P(Attributes, RawCopyDestination,
                         ::testing::Values(FILE_ATTRIBUTE_READONLY, FILE_ATTRIBUTE_HIDDEN,
                                           FILE_ATTRIBUTE_SYSTEM,
                                           FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                               FILE_ATTRIBUTE_SYSTEM));

class RawCopyFailure : public ::testing::Test {
protected:
    void SetUp() override {
        destination_ = folder_ / L"destination";
        ASSERT_TRUE(WriteFileBytes(destination_, "untouched"));
        ASSERT_TRUE(SetFileAttributesW(destination_.c_str(),
                                       FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
        attributes_ = GetFileAttributesW(destination_.c_str());
    }
    void ExpectDestinationUntouched() {
        EXPECT_EQ("untouched", ReadFileBytes(destination_));
        EXPECT_EQ(attributes_, GetFileAttributesW(destination_.c_str()));
        EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN),
                  attributes_ & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
    }

    ScratchFolder folder_;
    std::wstring destination_;
    DWORD attributes_ = 0;
};

TEST_F(RawCopyFailure, MissingSourceLeavesTheDestinationAlone) {
    std::wstring source = folder_ / L"no-such-file";
    LastCopyError = 0xdeadbeef;

    EXPECT_FALSE(CopyFileRaw(source.c_str(), destination_.c_str()));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), LastCopyError);
    ExpectDestinationUntouched();
}


TEST_F(RawCopyFailure, SourceHeldWithoutReadSharingGivesTheSharingError) {
    std::wstring source = folder_ / L"locked";
    ASSERT_TRUE(WriteFileBytes(source, "locked"));
    FileHandle holder(CreateFileW(source.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0,
                                  nullptr));
    ASSERT_TRUE(holder.valid());

    EXPECT_FALSE(CopyFileRaw(source.c_str(), destination_.c_str()));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), LastCopyError);
    ExpectDestinationUntouched();
}

TEST_F(RawCopyFailure, DestinationThatCannotBeCreatedKeepsItsAttributes) {
    std::wstring source = folder_ / L"source";
    ASSERT_TRUE(WriteFileBytes(source, "source"));
    // The destination is held open without sharing, so it cannot be replaced.
    SetFileAttributesW(destination_.c_str(), FILE_ATTRIBUTE_NORMAL);
    FileHandle holder(CreateFileW(destination_.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                  0, nullptr));
    ASSERT_TRUE(holder.valid());
    SetFileAttributesW(destination_.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    attributes_ = GetFileAttributesW(destination_.c_str());

    EXPECT_FALSE(CopyFileRaw(source.c_str(), destination_.c_str()));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), LastCopyError);
    holder.reset();
    ExpectDestinationUntouched();
}

}  // namespace

namespace {

// A hive of 4 GiB or more must be copied whole, not cut to the low 32 bits of
// its size. The source is sparse, so only the copy takes real disk space.
TEST(RawCopyLargeFile, CopiesPastFourGibibytes) {
    ScratchFolder folder;
    ULARGE_INTEGER freeBytes{};
    GetDiskFreeSpaceExW(folder.path().c_str(), &freeBytes, nullptr, nullptr);
    if (freeBytes.QuadPart < (16ull << 30)) GTEST_SKIP() << "needs 16 GiB of free disk";

    const std::string tail = "end-of-the-hive!";
    const LONGLONG size = (4ll << 30) + static_cast<LONGLONG>(tail.size());
    std::wstring source = folder / L"big";
    std::wstring destination = folder / L"copy";
    {
        FileHandle file(CreateFileW(source.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0,
                                    nullptr));
        ASSERT_TRUE(file.valid());
        LARGE_INTEGER end;
        end.QuadPart = size - static_cast<LONGLONG>(tail.size());
        ASSERT_TRUE(SetFilePointerEx(file.get(), end, nullptr, FILE_BEGIN));
        DWORD written = 0;
        ASSERT_TRUE(WriteFile(file.get(), tail.data(), static_cast<DWORD>(tail.size()), &written,
                              nullptr));
    }

    EXPECT_TRUE(CopyFileRaw(source.c_str(), destination.c_str()));
    EXPECT_EQ(0u, LastCopyError);

    FileHandle copy(CreateFileW(destination.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(copy.valid());
    LARGE_INTEGER copied{};
    ASSERT_TRUE(GetFileSizeEx(copy.get(), &copied));
    EXPECT_EQ(size, copied.QuadPart);
    LARGE_INTEGER end;
    end.QuadPart = size - static_cast<LONGLONG>(tail.size());
    ASSERT_TRUE(SetFilePointerEx(copy.get(), end, nullptr, FILE_BEGIN));
    char read[16] = {};
    DWORD got = 0;
    ASSERT_TRUE(ReadFile(copy.get(), read, sizeof(read), &got, nullptr));
    EXPECT_EQ(tail, std::string(read, got));
}

}  // namespace
