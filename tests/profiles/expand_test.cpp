#include <gtest/gtest.h>

#include <string.h>
#include <strsafe.h>

#include <string>

#include "app/process_state.h"
#include "backup/user_hives.h"
#include "support/scratch.h"

namespace {

constexpr wchar_t Pattern = 0x5A5A;

// Sets an environment variable of this process while it lives.
class ScopedVariable {
public:
    ScopedVariable(const wchar_t* name, const std::wstring& value) : name_(name) {
        SetEnvironmentVariableW(name, value.c_str());
    }
    ~ScopedVariable() { SetEnvironmentVariableW(name_, nullptr); }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

private:
    const wchar_t* name_;
};

struct PathBuffer {
    wchar_t text[PathCapacity];
    explicit PathBuffer(const std::wstring& initial) {
        for (wchar_t& c : text) c = Pattern;
        StringCchCopyW(text, PathCapacity, initial.c_str());
    }
};

std::wstring Variable(const wchar_t* name) {
    wchar_t value[LongPathCapacity] = {};
    GetEnvironmentVariableW(name, value, ARRAYSIZE(value));
    return value;
}

TEST(ExpandInPlace, ExpandsReferencesAndKeepsTheRest) {
    std::wstring systemRoot = Variable(L"SystemRoot");
    ASSERT_FALSE(systemRoot.empty());

    PathBuffer path(L"%SystemRoot%\\ZELTEST\\PROFILE");
    ExpandInPlace(path.text);
    EXPECT_EQ(systemRoot + L"\\ZELTEST\\PROFILE", std::wstring(path.text));

    PathBuffer plain(L"C:\\USERS\\ALICE");
    ExpandInPlace(plain.text);
    EXPECT_STREQ(L"C:\\USERS\\ALICE", plain.text);

    // Unknown references stay as they are written.
    PathBuffer unknown(L"C:\\%ZEL_NO_SUCH_VARIABLE%\\X");
    ExpandInPlace(unknown.text);
    EXPECT_STREQ(L"C:\\%ZEL_NO_SUCH_VARIABLE%\\X", unknown.text);
}

TEST(ExpandInPlace, ExpansionThatDoesNotFitLeavesTheBufferUnchanged) {
    // 2047 characters and the terminator fill the buffer exactly.
    {
        ScopedVariable longest(L"ZEL_TEST_EXPANSION", std::wstring(PathCapacity - 4, L'x'));
        PathBuffer path(L"C:%ZEL_TEST_EXPANSION%\\");
        ExpandInPlace(path.text);
        EXPECT_EQ(L"C:" + std::wstring(PathCapacity - 4, L'x') + L"\\", std::wstring(path.text));
    }

    const size_t tooLong[] = {PathCapacity - 3, 3000, LongPathCapacity, 6000};
    for (size_t length : tooLong) {
        ScopedVariable variable(L"ZEL_TEST_EXPANSION", std::wstring(length, L'x'));
        PathBuffer path(L"C:%ZEL_TEST_EXPANSION%\\");
        PathBuffer before = path;
        ExpandInPlace(path.text);
        EXPECT_EQ(0, memcmp(before.text, path.text, sizeof(path.text)))
            << "expansion of " << length + 3 << " characters: " << Narrow(path.text).substr(0, 40);
    }
}

}  // namespace
