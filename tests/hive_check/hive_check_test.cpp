// The hive check against files that hivex, an independent reader and writer
// of the format, made and read (tests/hives/make_hives.py), and against
// damaged copies of them.
#include "shared/hive_check.h"

#include <string.h>

#include "support/support.h"

namespace {

enum Verdict { Pass, NeedsLogs, Text, Fail };
const struct {
    const wchar_t* name;
    Verdict verdict;
    const wchar_t* problem;
} Cases[] = {
    {L"good.hive", Pass, L""},
    {L"minimal.hive", Pass, L""},
    {L"checksum_all_ones.hive", Pass, L""},
    {L"needs_logs.hive", NeedsLogs, L""},
    {L"text.hive", Text, L""},
    {L"text_crlf.hive", Text, L""},
    {L"bad_checksum.hive", Fail, L"base block checksum is wrong"},
    {L"short.hive", Fail, L"file ends inside the base block"},
    {L"cut_in_bin.hive", Fail, L"file ends inside the hive bins data"},
    {L"empty.hive", Fail, L"file is empty"},
    {L"cut_in_last_cell.hive", Fail, L"file ends inside the hive bins data"},
    {L"bad_bin_size.hive", Fail, L"hive bin runs past the end of the hive bins data"},
    {L"bad_bin_offset.hive", Fail, L"hive bin offset field is wrong"},
    {L"bad_root.hive", Fail, L"root cell is not a key node"},
    {L"zero_tail.hive", Fail, L"file is longer than its hive bins data"},
    {L"root_free.hive", Fail, L"root cell is not allocated"},
    {L"root_mid_cell.hive", Fail, L"root cell offset does not point at a cell"},
    {L"bad_cell.hive", Fail, L"cell size is zero or not a multiple of 8"},
    {L"cell_past_bin.hive", Fail, L"cell runs past the end of its bin"},
    {L"other_text.hive", Fail, L"file is not a registry hive"},
};

std::wstring Verdict(bool passed, bool needsLogs, bool textFormat, const wchar_t* problem) {
    return std::to_wstring(passed) + std::to_wstring(needsLogs) + std::to_wstring(textFormat) +
           (problem ? problem : L"");
}
std::wstring Verdict(const HiveCheckResult& r) {
    return Verdict(r.passed, r.needsLogs, r.textFormat, r.problem);
}
template <class Case>
std::wstring Expected(const Case& c) {
    return Verdict(c.verdict != Fail, c.verdict == NeedsLogs, c.verdict == Text, c.problem);
}

}  // namespace

TEST(EachFileGetsItsVerdict) {
    for (const auto& hive : Cases) {
        Context label(hive.name);
        HiveCheckResult result = {true, true, true, L"poison"};
        DWORD error = 0xDEADBEEF;
        REQUIRE(CheckHiveFile(HiveFile(hive.name).c_str(), &result, &error));
        CHECK_EQ(DWORD(ERROR_SUCCESS), error);
        CHECK_EQ(Expected(hive), Verdict(result));
    }
    HiveCheckResult untouched = {true, true, true, L"untouched"};
    DWORD error = 0xDEADBEEF;
    CHECK(!CheckHiveFile(HiveFile(L"missing.hive").c_str(), &untouched, &error));
    CHECK_EQ(DWORD(ERROR_FILE_NOT_FOUND), error);
    CHECK_EQ(std::wstring(L"111untouched"), Verdict(untouched));
}

// Each chunk is fed from the very end of a buffer that a no-access page
// follows, so a read past the bytes given faults.
TEST(AnyChunkingGivesTheSameVerdict) {
    const size_t largest = 131072;
    BYTE* guarded = static_cast<BYTE*>(
        VirtualAlloc(nullptr, largest + 4096, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    DWORD old = 0;
    REQUIRE(guarded && VirtualProtect(guarded + largest, 4096, PAGE_NOACCESS, &old));
    for (const auto& hive : Cases) {
        const std::string bytes = ReadFileBytes(HiveFile(hive.name));
        for (size_t chunk : {size_t{1}, size_t{7}, size_t{4093}, size_t{4096}, largest}) {
            Context label(Narrow(hive.name) + " in chunks of " + std::to_string(chunk));
            HiveCheck check;
            HiveCheckBegin(&check);
            for (size_t at = 0; at < bytes.size(); at += chunk) {
                const size_t count = bytes.size() - at < chunk ? bytes.size() - at : chunk;
                memcpy(guarded + largest - count, bytes.data() + at, count);
                HiveCheckFeed(&check, guarded + largest - count, count);
            }
            CHECK_EQ(Expected(hive), Verdict(HiveCheckEnd(&check)));
        }
    }
    VirtualFree(guarded, 0, MEM_RELEASE);
}
