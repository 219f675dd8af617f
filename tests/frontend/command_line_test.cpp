#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/process_state.h"
#include "frontend/frontend_expect.h"
#include "support/stdout_capture.h"

namespace {

const wchar_t PoisonRoot[] = L"C:\\poison\\root";

// Reads a command line in-process; BackupRoot, RetentionDays and ServiceMode
// are put back as they were after every test.
class CommandLine : public ::testing::Test {
protected:
    void SetUp() override {
        savedRoot_.assign(BackupRoot);
        savedDays_ = RetentionDays;
        savedServiceMode_ = ServiceMode;
        wcscpy_s(BackupRoot, ARRAYSIZE(BackupRoot), PoisonRoot);
        RetentionDays = 15;
        ServiceMode = false;
    }
    void TearDown() override {
        wcscpy_s(BackupRoot, ARRAYSIZE(BackupRoot), savedRoot_.c_str());
        RetentionDays = savedDays_;
        ServiceMode = savedServiceMode_;
    }

    // Runs ReadCommandLine on "zel.exe" followed by `arguments`; what it
    // prints goes to `printed`.
    bool Read(const std::vector<std::wstring>& arguments) {
        std::vector<std::wstring> storage{L"zel.exe"};
        storage.insert(storage.end(), arguments.begin(), arguments.end());
        std::vector<wchar_t*> argv;
        for (std::wstring& argument : storage) argv.push_back(&argument[0]);
        argv.push_back(nullptr);
        request = CommandLineRequest{};
        StdoutCapture capture;
        bool goOn = ReadCommandLine(static_cast<int>(storage.size()), argv.data(), &request);
        printed = capture.Bytes();
        return goOn;
    }

    CommandLineRequest request;
    std::string printed;

private:
    std::wstring savedRoot_;
    int savedDays_ = 0;
    bool savedServiceMode_ = false;
};

TEST_F(CommandLine, NoArgumentsKeepEveryDefault) {
    EXPECT_TRUE(Read({}));
    EXPECT_STREQ(PoisonRoot, BackupRoot);
    EXPECT_EQ(15, RetentionDays);
    EXPECT_FALSE(ServiceMode);
    EXPECT_FALSE(request.install);
    EXPECT_FALSE(request.uninstall);
    EXPECT_EQ("", printed);
}

TEST_F(CommandLine, RepeatedDaysKeepTheLastValue) {
    EXPECT_TRUE(Read({L"/days:3", L"/days:40"}));
    EXPECT_EQ(40, RetentionDays);
    EXPECT_TRUE(Read({L"/days:40", L"/days:-2"}));
    EXPECT_EQ(-2, RetentionDays);
    EXPECT_TRUE(Read({L"/days:9", L"/days:"}));
    EXPECT_EQ(0, RetentionDays);
    EXPECT_EQ("", printed);
}

TEST_F(CommandLine, TheLastPathWinsWhereverItStands) {
    EXPECT_TRUE(Read({L"C:\\first", L"/i", L"D:\\second"}));
    EXPECT_STREQ(L"D:\\second", BackupRoot);
    EXPECT_TRUE(Read({L"C:\\first", L"D:\\second", L"/u"}));
    EXPECT_STREQ(L"D:\\second", BackupRoot);
    EXPECT_EQ("", printed);
}

TEST_F(CommandLine, PathBeforeOrAfterTheOptionsGivesTheSameRoot) {
    EXPECT_TRUE(Read({L"E:\\backups", L"/days:2", L"/u"}));
    const std::wstring before = BackupRoot;
    const int daysBefore = RetentionDays;
    const bool uninstallBefore = request.uninstall;

    wcscpy_s(BackupRoot, ARRAYSIZE(BackupRoot), PoisonRoot);
    RetentionDays = 15;
    EXPECT_TRUE(Read({L"/days:2", L"/u", L"E:\\backups"}));
    EXPECT_EQ(L"E:\\backups", before);
    EXPECT_STREQ(before.c_str(), BackupRoot);
    EXPECT_EQ(2, daysBefore);
    EXPECT_EQ(2, RetentionDays);
    EXPECT_TRUE(uninstallBefore);
    EXPECT_TRUE(request.uninstall);
}

TEST_F(CommandLine, InstallAndUninstallTogetherSetBoth) {
    EXPECT_TRUE(Read({L"/i", L"/u"}));
    EXPECT_TRUE(request.install);
    EXPECT_TRUE(request.uninstall);
    EXPECT_TRUE(Read({L"/u", L"/i", L"/i", L"/u"}));
    EXPECT_TRUE(request.install);
    EXPECT_TRUE(request.uninstall);
    EXPECT_FALSE(ServiceMode);
    EXPECT_EQ("", printed);
}

TEST_F(CommandLine, RepeatedServiceOnlySetsServiceMode) {
    EXPECT_TRUE(Read({L"/service", L"/service"}));
    EXPECT_TRUE(ServiceMode);
    EXPECT_FALSE(request.install);
    EXPECT_FALSE(request.uninstall);
    EXPECT_STREQ(PoisonRoot, BackupRoot);
    EXPECT_EQ(15, RetentionDays);
}

TEST_F(CommandLine, AnEmptyArgumentEmptiesTheRoot) {
    EXPECT_TRUE(Read({L"C:\\before", L""}));
    EXPECT_EQ(L'\0', BackupRoot[0]);
}

TEST_F(CommandLine, ALeadingHyphenIsAPath) {
    EXPECT_TRUE(Read({L"-days:3"}));
    EXPECT_STREQ(L"-days:3", BackupRoot);
    EXPECT_EQ(15, RetentionDays);
    EXPECT_TRUE(Read({L"-i"}));
    EXPECT_STREQ(L"-i", BackupRoot);
    EXPECT_FALSE(request.install);
    EXPECT_EQ("", printed);
}

TEST_F(CommandLine, APathIsTakenUnchanged) {
    EXPECT_TRUE(Read({L"relative\\..\\%TEMP%\\x "}));
    EXPECT_STREQ(L"relative\\..\\%TEMP%\\x ", BackupRoot);
}

TEST_F(CommandLine, AnUnrecognisedOptionStopsTheReadingWithReportAndUsage) {
    EXPECT_FALSE(Read({L"/days:4", L"/x", L"/service", L"/days:9", L"/i", L"C:\\late"}));
    EXPECT_EQ(ReportLine("/x", ERROR_INVALID_PARAMETER) + UsageText, printed);
    EXPECT_EQ(4, RetentionDays);
    EXPECT_FALSE(ServiceMode);
    EXPECT_FALSE(request.install);
    EXPECT_STREQ(PoisonRoot, BackupRoot);
}

TEST_F(CommandLine, OptionsCompareCaseSensitively) {
    for (const wchar_t* option : {L"/I", L"/U", L"/DAYS:5", L"/Days:5", L"/days", L"/Service",
                                  L"/services", L"/i ", L"/"}) {
        SCOPED_TRACE(Narrow(option));
        EXPECT_FALSE(Read({option}));
        EXPECT_EQ(ReportLine(Narrow(option), ERROR_INVALID_PARAMETER) + UsageText, printed);
        EXPECT_EQ(15, RetentionDays);
        EXPECT_FALSE(request.install);
        EXPECT_FALSE(request.uninstall);
        EXPECT_FALSE(ServiceMode);
    }
}

TEST_F(CommandLine, ServiceBeforeAnUnrecognisedOptionSilencesEverything) {
    EXPECT_FALSE(Read({L"/service", L"/x"}));
    EXPECT_EQ("", printed);
    EXPECT_TRUE(ServiceMode);
}

TEST_F(CommandLine, QuestionMarkPrintsTheUsageAlone) {
    EXPECT_FALSE(Read({L"/days:9", L"/?", L"/i"}));
    EXPECT_EQ(UsageText, printed);
    EXPECT_EQ(9, RetentionDays);
    EXPECT_FALSE(request.install);
}

TEST_F(CommandLine, APathThatFillsTheRootExactlyIsTaken) {
    std::wstring path(ARRAYSIZE(BackupRoot) - 1, L'p');
    path.replace(0, 3, L"C:\\");
    EXPECT_TRUE(Read({path}));
    EXPECT_EQ(path, std::wstring(BackupRoot));
    EXPECT_EQ("", printed);
}

TEST_F(CommandLine, APathTooLongForTheRootIsRefused) {
    for (size_t length : {ARRAYSIZE(BackupRoot), size_t{5000}}) {
        SCOPED_TRACE(length);
        std::wstring path(length, L'q');
        path.replace(0, 3, L"C:\\");
        wcscpy_s(BackupRoot, ARRAYSIZE(BackupRoot), PoisonRoot);
        EXPECT_FALSE(Read({path, L"/i"}));
        EXPECT_FALSE(request.install);
        EXPECT_EQ(L'\0', BackupRoot[0]);
        const std::string line = FirstLine(printed);
        EXPECT_TRUE(IsCutReport(line, Narrow(path), ERROR_FILENAME_EXCED_RANGE));
        EXPECT_EQ(UsageText, printed.substr(line.size()));
    }
}

}  // namespace
