#include <gtest/gtest.h>

#include <windows.h>
#include <strsafe.h>
#include <wchar.h>

#include <string>
#include <vector>

#include "app/process_state.h"
#include "service/service_command_line.h"
#include "support/saved_process_values.h"
#include "support/scratch.h"

namespace {

constexpr size_t LineCapacity = 2048;

class ServiceCommandLine : public ::testing::Test {
protected:
    void SetUp() override {
        StringCchCopyW(ModuleDir, ARRAYSIZE(ModuleDir), L"C:\\Tools");
        RetentionDays = 15;
    }

    // Composes for `root` into a poisoned buffer.
    static std::wstring Compose(const std::wstring& root, bool* ok, DWORD* error) {
        StringCchCopyW(BackupRoot, ARRAYSIZE(BackupRoot), root.c_str());
        std::vector<wchar_t> line(LineCapacity, L'X');
        SetLastError(0xdeadbeef);
        *ok = ComposeServiceCommandLine(line.data(), line.size());
        *error = GetLastError();
        // An unterminated buffer comes back whole and fails every comparison.
        return std::wstring(line.data(), wcsnlen(line.data(), line.size()));
    }

private:
    SavedProcessValues saved_;
};

// shell32 is not linked; the platform's own splitting is loaded at run time.
std::vector<std::wstring> SplitLikeThePlatform(const std::wstring& line) {
    std::vector<std::wstring> arguments;
    using SplitFn = LPWSTR*(WINAPI*)(LPCWSTR, int*);
    HMODULE shell = LoadLibraryW(L"shell32.dll");
    if (!shell) return arguments;
    auto split = reinterpret_cast<SplitFn>(
        reinterpret_cast<void*>(GetProcAddress(shell, "CommandLineToArgvW")));
    int count = 0;
    LPWSTR* argv = split ? split(line.c_str(), &count) : nullptr;
    for (int i = 0; argv && i < count; ++i) arguments.push_back(argv[i]);
    if (argv) LocalFree(argv);
    FreeLibrary(shell);
    return arguments;
}

TEST_F(ServiceCommandLine, QuotesTheRootSoThatItIsReadBackUnchanged) {
    const std::pair<const wchar_t*, const wchar_t*> cases[] = {
        {L"C:\\My Backups", L"\"C:\\My Backups\""},
        {L"C:\\My Backups\\", L"\"C:\\My Backups\\\\\""},
        {L"E:\\100% sure\\%TEMP%", L"\"E:\\100% sure\\%TEMP%\""},
        {L"D:\\", L"\"D:\\\\\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Narrow(c.first));
        bool ok = false;
        DWORD error = 0;
        std::wstring line = Compose(c.first, &ok, &error);
        ASSERT_TRUE(ok) << error;
        EXPECT_EQ(L"\"C:\\Tools\\zel.exe\" /service /days:15 " + std::wstring(c.second), line);
        const std::vector<std::wstring> expected = {L"C:\\Tools\\zel.exe", L"/service",
                                                    L"/days:15", c.first};
        EXPECT_EQ(expected, SplitLikeThePlatform(line));
    }
}

TEST_F(ServiceCommandLine, RefusesAPathWithADoubleQuote) {
    bool ok = true;
    DWORD error = 0;
    EXPECT_EQ(L"", Compose(L"C:\\a\"b", &ok, &error));
    EXPECT_FALSE(ok);
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), error);
}

TEST_F(ServiceCommandLine, FillsTheBufferToTheLastCharacterAndNoFurther) {
    const std::wstring head = L"\"C:\\Tools\\zel.exe\" /service /days:15 ";
    const std::wstring fits = L"D:\\" + std::wstring(LineCapacity - 1 - head.size() - 2 - 3, L'a');
    bool ok = false;
    DWORD error = 0;
    EXPECT_EQ(head + L"\"" + fits + L"\"", Compose(fits, &ok, &error));
    EXPECT_TRUE(ok) << error;

    // One more character, or a trailing backslash that has to be doubled.
    std::wstring slashed = fits;
    slashed.back() = L'\\';
    for (const std::wstring& root : {fits + L"a", slashed}) {
        ok = true;
        EXPECT_EQ(L"", Compose(root, &ok, &error));
        EXPECT_FALSE(ok);
        EXPECT_EQ(static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE), error);
    }
}

}  // namespace
