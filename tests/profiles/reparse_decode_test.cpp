#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "backup/reparse_point.h"
#include "profiles_util.h"

namespace {

constexpr DWORD JunctionTag = 0xA0000003;
constexpr DWORD LinkTag = 0xA000000C;
constexpr DWORD Relative = 1;
constexpr size_t DataLengthAt = 4, PrintOffsetAt = 12, PrintLengthAt = 14;
const std::wstring Initial = L"C:\\Users\\Alice\\Local Settings";

void Put(std::string& bytes, DWORD value, int size) {
    for (int i = 0; i < size; ++i) bytes.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

std::string Patched(std::string bytes, size_t at, unsigned value) {
    std::string field;
    Put(field, value, 2);
    return bytes.replace(at, 2, field);
}

// Reparse data as FSCTL_GET_REPARSE_POINT returns it; both names end in a
// NUL, and the print name comes first when asked.
std::string ReparseData(DWORD tag, const std::wstring& substitute, const std::wstring& print,
                        DWORD flags = 0, bool printFirst = false) {
    const std::wstring& first = printFirst ? print : substitute;
    const std::wstring& second = printFirst ? substitute : print;
    std::string names = Utf16Bytes(first) + std::string(2, '\0') + Utf16Bytes(second) +
                        std::string(2, '\0');
    DWORD secondAt = static_cast<DWORD>((first.size() + 1) * 2);
    std::string bytes;
    Put(bytes, tag, 4);
    for (size_t field : {(tag == LinkTag ? 12 : 8) + names.size(), size_t{0},
                         size_t{printFirst ? secondAt : 0}, substitute.size() * 2,
                         size_t{printFirst ? 0 : secondAt}, print.size() * 2}) {
        Put(bytes, static_cast<DWORD>(field), 2);
    }
    if (tag == LinkTag) Put(bytes, flags, 4);
    return bytes + names;
}

// Decodes bytes that end exactly where an inaccessible page begins, so that
// reading one byte past them faults.
bool Decode(const std::string& bytes, PathBuffer& path) {
    const size_t page = 4096, span = (bytes.size() / page + 1) * page;
    BYTE* base = static_cast<BYTE*>(
        VirtualAlloc(nullptr, span + page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    DWORD old = 0;
    VirtualProtect(base + span, page, PAGE_NOACCESS, &old);
    BYTE* data = base + span - bytes.size();
    memcpy(data, bytes.data(), bytes.size());
    bool decoded =
        DecodeReparseTarget(data, static_cast<DWORD>(bytes.size()), path.text, PathCapacity);
    VirtualFree(base, 0, MEM_RELEASE);
    return decoded;
}

TEST(DecodeReparseTarget, TakesThePrintNameOfJunctionsAndSymbolicLinks) {
    const struct {
        std::wstring initial;
        std::string bytes;
        std::wstring expected;
    } cases[] = {
        {Initial, ReparseData(JunctionTag, L"\\??\\C:\\Users\\Alice\\AppData\\Local",
                              L"C:\\Users\\Alice\\AppData\\Local"),
         L"C:\\USERS\\ALICE\\APPDATA\\LOCAL"},
        {Initial, ReparseData(JunctionTag, L"\\??\\C:\\Other", L"C:\\Roaming", 0, true),
         L"C:\\ROAMING"},
        {Initial, ReparseData(LinkTag, L"\\??\\D:\\Profiles\\Bob", L"D:\\Profiles\\Bob"),
         L"D:\\PROFILES\\BOB"},
        {L"C:\\USERS\\A\\Local Settings",
         ReparseData(LinkTag, L"AppData\\Local", L"AppData\\Local", Relative),
         L"C:\\USERS\\A\\AppData\\Local"},
        {L"Local Settings", ReparseData(LinkTag, L"AppData\\Local", L"AppData\\Local", Relative),
         L"Local Settings\\AppData\\Local"},
        {Initial, ReparseData(JunctionTag, L"\\??\\C:\\Somewhere", L""), L""},
        {Initial, ReparseData(JunctionTag, L"", L"C:\\" + std::wstring(PathCapacity - 4, L'a')),
         L"C:\\" + std::wstring(PathCapacity - 4, L'A')},
    };
    for (const auto& c : cases) {
        PathBuffer path(c.initial);
        EXPECT_TRUE(Decode(c.bytes, path)) << Narrow(c.expected);
        EXPECT_EQ(c.expected, path.text);
    }
}

TEST(DecodeReparseTarget, RefusesOtherTagsDataOutsideTheBytesAndTargetsThatDoNotFit) {
    const std::string junction = ReparseData(JunctionTag, L"\\??\\C:\\Target", L"C:\\Target");
    const std::string link = ReparseData(LinkTag, L"\\??\\C:\\Target", L"C:\\Target", Relative);
    const unsigned printPastData = (9 + 2) * 2;  // one character more than the data holds
    const std::vector<std::string> refused = {
        Patched(junction, 0, 0x0004) /* tag 0xA0000004 */,
        ReparseData(0x80000017, L"\\??\\C:\\Target", L"C:\\Target"),
        std::string(),
        junction.substr(0, 7),
        junction.substr(0, 12),
        link.substr(0, 16),
        junction.substr(0, junction.size() - 1),
        Patched(junction, DataLengthAt, 6),
        Patched(junction, PrintLengthAt, printPastData),
        Patched(junction, PrintOffsetAt, 0xFFFE),
        Patched(junction + std::string(8, 'x'), PrintLengthAt, printPastData),
        ReparseData(JunctionTag, L"", L"C:\\" + std::wstring(PathCapacity - 3, L'b')),
        ReparseData(LinkTag, L"", std::wstring(300, L'r'), Relative),
    };
    for (size_t i = 0; i < refused.size(); ++i) {
        PathBuffer path(Initial);
        const PathBuffer before = path;
        EXPECT_FALSE(Decode(refused[i], path)) << "case " << i;
        EXPECT_TRUE(before == path) << "case " << i;
    }
}

TEST(ResolveReparsePoint, PlainFolderFileAndMissingPathAreLeftAsTheyAre) {
    ScratchFolder scratch(L"zelreparse");
    ASSERT_TRUE(CreateDirectoryW((scratch / L"Local Settings").c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(scratch / L"NTUSER.DAT", "hive"));
    for (const wchar_t* name : {L"Local Settings", L"NTUSER.DAT", L"Missing"}) {
        PathBuffer path(scratch / name);
        const PathBuffer before = path;
        EXPECT_FALSE(ResolveReparsePoint(path.text)) << Narrow(name);
        EXPECT_TRUE(before == path) << Narrow(name);
    }
}

}  // namespace
