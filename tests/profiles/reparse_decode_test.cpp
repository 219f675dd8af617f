#include <gtest/gtest.h>

#include <string.h>
#include <strsafe.h>

#include <string>

#include "app/process_state.h"
#include "backup/reparse_point.h"
#include "support/scratch.h"

namespace {

constexpr DWORD JunctionTag = 0xA0000003;
constexpr DWORD SymbolicLinkTag = 0xA000000C;
constexpr DWORD RelativeFlag = 1;
constexpr wchar_t Pattern = 0xA5A5;

void Put16(std::string& bytes, unsigned value) {
    bytes.push_back(static_cast<char>(value & 0xFF));
    bytes.push_back(static_cast<char>((value >> 8) & 0xFF));
}

void Put32(std::string& bytes, DWORD value) {
    Put16(bytes, value & 0xFFFF);
    Put16(bytes, value >> 16);
}

void Patch16(std::string& bytes, size_t at, unsigned value) {
    bytes[at] = static_cast<char>(value & 0xFF);
    bytes[at + 1] = static_cast<char>((value >> 8) & 0xFF);
}

// Byte offsets of the fields in the documented layout.
constexpr size_t DataLengthAt = 4;
constexpr size_t PrintOffsetAt = 12;
constexpr size_t PrintLengthAt = 14;

// Reparse data as FSCTL_GET_REPARSE_POINT returns it: header, name fields
// (and Flags for a symbolic link), then both names, each followed by a NUL.
std::string ReparseData(DWORD tag, const std::wstring& substitute, const std::wstring& print,
                        DWORD flags = 0, bool printFirst = false) {
    bool link = tag == SymbolicLinkTag;
    std::wstring first = printFirst ? print : substitute;
    std::wstring second = printFirst ? substitute : print;
    std::string names = Utf16Bytes(first) + std::string(2, '\0') + Utf16Bytes(second) +
                        std::string(2, '\0');
    unsigned secondOffset = static_cast<unsigned>((first.size() + 1) * 2);
    unsigned substituteOffset = printFirst ? secondOffset : 0;
    unsigned printOffset = printFirst ? 0 : secondOffset;

    std::string bytes;
    Put32(bytes, tag);
    Put16(bytes, static_cast<unsigned>((link ? 12 : 8) + names.size()));
    Put16(bytes, 0);
    Put16(bytes, substituteOffset);
    Put16(bytes, static_cast<unsigned>(substitute.size() * 2));
    Put16(bytes, printOffset);
    Put16(bytes, static_cast<unsigned>(print.size() * 2));
    if (link) Put32(bytes, flags);
    return bytes + names;
}

// The bytes end exactly where an inaccessible page begins, so reading one
// byte past them faults.
class GuardedBytes {
public:
    explicit GuardedBytes(const std::string& bytes) {
        SYSTEM_INFO info;
        GetSystemInfo(&info);
        size_t page = info.dwPageSize;
        size_t span = (bytes.size() + page - 1) / page * page;
        if (span == 0) span = page;
        base_ = static_cast<BYTE*>(
            VirtualAlloc(nullptr, span + page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
        DWORD old = 0;
        VirtualProtect(base_ + span, page, PAGE_NOACCESS, &old);
        data_ = base_ + span - bytes.size();
        memcpy(data_, bytes.data(), bytes.size());
        size_ = static_cast<DWORD>(bytes.size());
    }
    ~GuardedBytes() { VirtualFree(base_, 0, MEM_RELEASE); }
    GuardedBytes(const GuardedBytes&) = delete;
    GuardedBytes& operator=(const GuardedBytes&) = delete;

    const BYTE* data() const { return data_; }
    DWORD size() const { return size_; }

private:
    BYTE* base_ = nullptr;
    BYTE* data_ = nullptr;
    DWORD size_ = 0;
};

// A 2048-character path buffer whose unused part holds a pattern, so that
// "unchanged" can be checked on every character.
struct PathBuffer {
    wchar_t text[PathCapacity];
    explicit PathBuffer(const std::wstring& initial) {
        for (wchar_t& c : text) c = Pattern;
        StringCchCopyW(text, PathCapacity, initial.c_str());
    }
};

bool SameBuffer(const PathBuffer& a, const PathBuffer& b) {
    return memcmp(a.text, b.text, sizeof(a.text)) == 0;
}

bool Decode(const std::string& bytes, PathBuffer& path, size_t capacity = PathCapacity) {
    GuardedBytes data(bytes);
    return DecodeReparseTarget(data.data(), data.size(), path.text, capacity);
}

// Decodes and checks that the result is false and not one character moved.
void ExpectRefused(const std::string& bytes, const wchar_t* what,
                   size_t capacity = PathCapacity) {
    PathBuffer path(L"C:\\Users\\Alice\\Local Settings");
    PathBuffer before = path;
    EXPECT_FALSE(Decode(bytes, path, capacity)) << Narrow(what);
    EXPECT_TRUE(SameBuffer(before, path)) << Narrow(what) << ": " << Narrow(path.text);
}

TEST(DecodeReparseTarget, JunctionTakesItsPrintNameUpperCased) {
    PathBuffer path(L"C:\\Users\\Alice\\Local Settings");
    ASSERT_TRUE(Decode(ReparseData(JunctionTag, L"\\??\\C:\\Users\\Alice\\AppData\\Local",
                                   L"C:\\Users\\Alice\\AppData\\Local"),
                       path));
    EXPECT_STREQ(L"C:\\USERS\\ALICE\\APPDATA\\LOCAL", path.text);

    // The print name is found through its offset, wherever it lies.
    PathBuffer swapped(L"C:\\Users\\Alice\\Application Data");
    ASSERT_TRUE(Decode(ReparseData(JunctionTag, L"\\??\\C:\\Other", L"C:\\Users\\Alice\\Roaming",
                                   0, true),
                       swapped));
    EXPECT_STREQ(L"C:\\USERS\\ALICE\\ROAMING", swapped.text);
}

TEST(DecodeReparseTarget, AbsoluteSymbolicLinkTakesItsPrintNameUpperCased) {
    PathBuffer path(L"C:\\Users\\Bob\\Local Settings");
    ASSERT_TRUE(Decode(ReparseData(SymbolicLinkTag, L"\\??\\D:\\Profiles\\Bob\\Local",
                                   L"D:\\Profiles\\Bob\\Local"),
                       path));
    EXPECT_STREQ(L"D:\\PROFILES\\BOB\\LOCAL", path.text);
}

TEST(DecodeReparseTarget, RelativeSymbolicLinkReplacesTheLastComponentKeepingCase) {
    PathBuffer path(L"C:\\USERS\\A\\Local Settings");
    ASSERT_TRUE(Decode(
        ReparseData(SymbolicLinkTag, L"AppData\\Local", L"AppData\\Local", RelativeFlag), path));
    EXPECT_STREQ(L"C:\\USERS\\A\\AppData\\Local", path.text);

    // Without a backslash the whole path is the base of the join.
    PathBuffer bare(L"Local Settings");
    ASSERT_TRUE(Decode(
        ReparseData(SymbolicLinkTag, L"AppData\\Local", L"AppData\\Local", RelativeFlag), bare));
    EXPECT_STREQ(L"Local Settings\\AppData\\Local", bare.text);
}

TEST(DecodeReparseTarget, EmptyJunctionPrintNameLeavesAnEmptyPath) {
    PathBuffer path(L"C:\\Users\\Alice\\Local Settings");
    ASSERT_TRUE(Decode(ReparseData(JunctionTag, L"\\??\\C:\\Somewhere", L""), path));
    EXPECT_STREQ(L"", path.text);
}

TEST(DecodeReparseTarget, PrintNameEndsAtAnEmbeddedNul) {
    std::wstring print = L"C:\\Kept";
    print.push_back(L'\0');
    print += L"Dropped";
    PathBuffer path(L"C:\\Users\\Alice\\Local Settings");
    ASSERT_TRUE(Decode(ReparseData(JunctionTag, L"\\??\\C:\\Kept", print), path));
    EXPECT_STREQ(L"C:\\KEPT", path.text);
}

TEST(DecodeReparseTarget, OtherTagsLeaveThePathUnchanged) {
    const DWORD tags[] = {0x80000017 /* WOF */, 0x80000013 /* dedup */, 0x9000001A /* cloud */,
                          0, 0xA0000004, 0x2000000C};
    for (DWORD tag : tags) {
        std::string bytes = ReparseData(JunctionTag, L"\\??\\C:\\Target", L"C:\\Target");
        bytes[0] = static_cast<char>(tag & 0xFF);
        bytes[1] = static_cast<char>((tag >> 8) & 0xFF);
        bytes[2] = static_cast<char>((tag >> 16) & 0xFF);
        bytes[3] = static_cast<char>((tag >> 24) & 0xFF);
        ExpectRefused(bytes, (L"tag " + std::to_wstring(tag)).c_str());
    }
}

TEST(DecodeReparseTarget, DataOutsideTheReturnedBytesIsRefused) {
    const std::string junction = ReparseData(JunctionTag, L"\\??\\C:\\Target", L"C:\\Target");
    const std::string link =
        ReparseData(SymbolicLinkTag, L"\\??\\C:\\Target", L"C:\\Target", RelativeFlag);

    ExpectRefused(std::string(), L"no bytes");
    ExpectRefused(junction.substr(0, 4), L"half a header");
    ExpectRefused(junction.substr(0, 7), L"header less one byte");
    ExpectRefused(junction.substr(0, 12), L"junction fields cut");
    ExpectRefused(link.substr(0, 16), L"symbolic link without Flags");
    ExpectRefused(junction.substr(0, junction.size() - 1), L"data length past the bytes");
    ExpectRefused(link.substr(0, link.size() - 2), L"link data length past the bytes");

    // The data length claims more than was returned.
    std::string longer = junction;
    Patch16(longer, DataLengthAt, static_cast<unsigned>(junction.size() - 8 + 2));
    ExpectRefused(longer, L"data length two bytes too long");

    // A junction whose data length is too short for its own name fields.
    std::string shortFields = junction;
    Patch16(shortFields, DataLengthAt, 6);
    ExpectRefused(shortFields, L"data length shorter than the fields");

    // The print name reaches one character past the data.
    std::string pastEnd = junction;
    Patch16(pastEnd, PrintLengthAt, static_cast<unsigned>((9 + 2) * 2));
    ExpectRefused(pastEnd, L"print name past the end");

    // The print name lies wholly past the data.
    std::string farOffset = junction;
    Patch16(farOffset, PrintOffsetAt, 0xFFFE);
    ExpectRefused(farOffset, L"print name offset far out");
    std::string farLength = junction;
    Patch16(farLength, PrintLengthAt, 0xFFFE);
    ExpectRefused(farLength, L"print name length far out");

    // Within the data but past what the data length covers (trailing bytes
    // beyond the declared data do not count).
    std::string trailing = junction + std::string(8, 'x');
    Patch16(trailing, PrintLengthAt, static_cast<unsigned>((9 + 2) * 2));
    ExpectRefused(trailing, L"print name past the declared data");

    std::string oddLength = junction;
    Patch16(oddLength, PrintLengthAt, 9 * 2 - 1);
    ExpectRefused(oddLength, L"odd print name length");
    std::string oddOffset = junction;
    Patch16(oddOffset, PrintOffsetAt, (13 + 1) * 2 + 1);
    Patch16(oddOffset, PrintLengthAt, 8 * 2);
    ExpectRefused(oddOffset, L"odd print name offset");

    std::string oddLinkLength = link;
    Patch16(oddLinkLength, PrintLengthAt, 3);
    ExpectRefused(oddLinkLength, L"odd symbolic link print name length");
}

TEST(DecodeReparseTarget, TargetThatDoesNotFitLeavesThePathUnchanged) {
    std::wstring longest(PathCapacity - 1, L'a');
    longest.replace(0, 3, L"C:\\");
    PathBuffer fits(L"C:\\Users\\Alice\\Local Settings");
    ASSERT_TRUE(Decode(ReparseData(JunctionTag, L"", longest), fits));
    std::wstring upper(PathCapacity - 1, L'A');
    upper.replace(0, 3, L"C:\\");
    EXPECT_EQ(upper, std::wstring(fits.text));

    ExpectRefused(ReparseData(JunctionTag, L"", longest + L"b"), L"junction of 2048 characters");
    ExpectRefused(ReparseData(SymbolicLinkTag, L"", longest + L"b"),
                  L"symbolic link of 2048 characters");
    ExpectRefused(ReparseData(JunctionTag, L"", L"C:\\Targets\\13"), L"capacity 13", 13);
    ExpectRefused(ReparseData(SymbolicLinkTag, L"", std::wstring(300, L'r'), RelativeFlag),
                  L"relative join too long");
}

TEST(ResolveReparsePoint, PlainFolderFileAndMissingPathAreLeftAsTheyAre) {
    ScratchFolder scratch(L"zelreparse");
    ASSERT_TRUE(CreateDirectoryW((scratch / L"Local Settings").c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(scratch / L"NTUSER.DAT", "hive"));

    const std::wstring paths[] = {scratch / L"Local Settings", scratch / L"NTUSER.DAT",
                                  scratch / L"Missing"};
    for (const std::wstring& initial : paths) {
        PathBuffer path(initial);
        PathBuffer before = path;
        EXPECT_FALSE(ResolveReparsePoint(path.text)) << Narrow(initial);
        EXPECT_TRUE(SameBuffer(before, path)) << Narrow(initial);
    }
}

}  // namespace
