#include <gtest/gtest.h>

#include <limits.h>

#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/process_state.h"
#include "support/saved_process_values.h"
#include "support/scratch.h"
#include "support/stdout_capture.h"

namespace {

TEST(ReadDaysValue, ReadsSignAndLeadingDigitsAndSaturates) {
    const struct {
        const wchar_t* text;
        int days;
    } cases[] = {
        {L"", 0}, {L"abc", 0}, {L"-3", -3}, {L"7x", 7},
        {L"2147483647", INT_MAX}, {L"2147483648", INT_MAX}, {L"99999999999999999999", INT_MAX},
        {L"-2147483648", INT_MIN}, {L"-2147483649", INT_MIN}, {L"-99999999999999999999", INT_MIN},
    };
    for (const auto& one : cases) EXPECT_EQ(one.days, ReadDaysValue(one.text)) << Narrow(one.text);
}

const wchar_t PoisonRoot[] = L"C:\\poison\\root";

class CommandLine : public ::testing::Test {
protected:
    void SetUp() override { ServiceMode = false; }

    // Reads "zel.exe" and `arguments` over a poisoned root and 15 days.
    bool Read(std::vector<std::wstring> arguments) {
        arguments.insert(arguments.begin(), L"zel.exe");
        std::vector<wchar_t*> argv;
        for (std::wstring& argument : arguments) argv.push_back(&argument[0]);
        argv.push_back(nullptr);
        wcscpy_s(BackupRoot, ARRAYSIZE(BackupRoot), PoisonRoot);
        RetentionDays = 15;
        request = CommandLineRequest{};
        StdoutCapture capture;
        bool goOn = ReadCommandLine(static_cast<int>(arguments.size()), argv.data(), &request);
        printed = capture.Bytes();
        return goOn;
    }

    CommandLineRequest request;
    std::string printed;

private:
    SavedProcessValues saved_;
};

TEST_F(CommandLine, OrderAndRepetitionOfArguments) {
    const std::wstring longest(ARRAYSIZE(BackupRoot) - 1, L'p');
    const struct {
        std::vector<std::wstring> arguments;
        std::wstring root;
        int days;
        bool install, uninstall;
    } cases[] = {
        {{L"/days:3", L"/days:40"}, PoisonRoot, 40, false, false},
        {{L"C:\\first", L"/i", L"D:\\second"}, L"D:\\second", 15, true, false},
        {{L"E:\\backups", L"/days:2", L"/u"}, L"E:\\backups", 2, false, true},
        {{L"/days:2", L"/u", L"E:\\backups"}, L"E:\\backups", 2, false, true},
        {{L"/u", L"/i", L"/i", L"/u"}, PoisonRoot, 15, true, true},
        {{L"C:\\before", L""}, L"", 15, false, false},
        {{longest}, longest, 15, false, false},
    };
    for (const auto& one : cases) {
        SCOPED_TRACE(&one - cases);
        EXPECT_TRUE(Read(one.arguments));
        EXPECT_EQ(one.root, BackupRoot);
        EXPECT_EQ(one.days, RetentionDays);
        EXPECT_EQ(one.install, request.install);
        EXPECT_EQ(one.uninstall, request.uninstall);
        EXPECT_FALSE(ServiceMode);
        EXPECT_EQ("", printed);
    }
}

}  // namespace
