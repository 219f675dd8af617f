// hivex as the oracle of the check: a seeded set of damaged copies of the
// Windows-written and hivex-made hives (mutations.txt from
// tests/hives/oracle.py, with hivex's verdict on each), made again here.
// No copy hivex cannot read whole may pass; every copy that passes reads
// whole through the reader too.
#include <sstream>

#include "hive/hive_copy.h"
#include "hive_check/hive_files.h"

namespace {

struct Mutation {
    std::string base, verdict;
    std::vector<std::pair<size_t, std::string>> changes;  // file offset, bytes
};

std::vector<Mutation> Mutations() {
    std::istringstream text(ReadFileBytes(HiveFile(L"mutations.txt")));
    std::vector<Mutation> mutations;
    for (std::string line; std::getline(text, line);) {
        std::istringstream words(line);
        Mutation m;
        words >> m.base >> m.verdict;
        for (std::string change; words >> change;) {
            const size_t colon = change.find(':');
            std::string bytes;
            for (size_t i = colon + 1; i + 1 < change.size(); i += 2)
                bytes.push_back(static_cast<char>(std::stoi(change.substr(i, 2), nullptr, 16)));
            m.changes.push_back({std::stoul(change.substr(0, colon), nullptr, 16), bytes});
        }
        mutations.push_back(m);
    }
    return mutations;
}

// The damaged copy `m` written at `path`.
bool WriteMutation(const Mutation& m, const std::wstring& path) {
    std::string bytes = ReadFileBytes(OracleFile(Widen(m.base)));
    for (const auto& [at, patch] : m.changes) bytes.replace(at, patch.size(), patch);
    return WriteFileBytes(path, bytes);
}

}  // namespace

// Every road to a verdict on each damaged copy says exactly what the file's
// own check says, and every copy holds the file's bytes: a copy by
// CopyAndCheckHive, which checks a hive held whole while the writer's thread
// writes it, or after writing it (these hives are small); and, with hives
// read in blocks instead of whole, the file and a copy that goes over the
// bins chunk by chunk.
TEST(NothingHivexCannotReadPasses) {
    const std::vector<Mutation> mutations = Mutations();
    REQUIRE(mutations.size() >= 500);
    ScratchFolder scratch(L"oracle");
    const std::wstring path = scratch / L"hive", copy = scratch / L"copy";
    HiveCopier copier;  // one for all, as in a run
    HiveCheckResult copied;
    DWORD logs = 0;
    for (size_t i = 0; i < mutations.size(); ++i) {
        const Mutation& m = mutations[i];
        Context row(std::to_string(i + 1) + " " + m.base);
        REQUIRE(WriteMutation(m, path));
        const std::string verdict = Verdict(path);
        const std::pair<DWORD, DWORD> roads[] = {
            {Platform.hiveWholeLimit, 0}, {Platform.hiveWholeLimit, MAXDWORD}, {0, MAXDWORD}};
        for (const auto& [whole, beside] : roads) {
            SwapCall wholeRoad(Platform.hiveWholeLimit, whole);
            SwapCall besideRoad(Platform.besideWriteMinimum, beside);
            CHECK_EQ(verdict, Verdict(path));
            REQUIRE(CopyAndCheckHive(&copier, path.c_str(), copy.c_str(), &copied, &logs) ==
                    ERROR_SUCCESS);
            CHECK_EQ(verdict, VerdictLine(copied));
            CHECK(ReadFileBytes(copy) == ReadFileBytes(path));
        }
        if (m.verdict == "fails") CHECK(verdict.rfind("passed", 0) != 0);
        if (verdict.rfind("passed", 0) == 0) {
            HiveHandle hive;
            REQUIRE(HiveOpen(path.c_str(), hive.put()) == ERROR_SUCCESS);
            const Strings lines = Listing(hive.get());
            CHECK(std::none_of(lines.begin(), lines.end(),
                               [](const std::string& l) { return l.rfind("error", 0) == 0; }));
        }
    }
}
