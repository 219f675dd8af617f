#include <gtest/gtest.h>

#include "backup/user_hives.h"
#include "profiles_util.h"

namespace {

TEST(ExpandInPlace, ExpandsSystemRoot) {
    wchar_t systemRoot[PathCapacity] = {};
    ASSERT_NE(0u, GetEnvironmentVariableW(L"SystemRoot", systemRoot, PathCapacity));
    PathBuffer path(L"%SystemRoot%\\ZELTEST\\PROFILE");
    ExpandInPlace(path.text);
    EXPECT_EQ(std::wstring(systemRoot) + L"\\ZELTEST\\PROFILE", path.text);
}

TEST(ExpandInPlace, ExpansionPast2047CharactersLeavesTheBufferUnchanged) {
    // "C:" + value + "\": 2047 characters fit; 2048, and more than the
    // expansion buffer itself, do not.
    for (size_t length : {size_t{PathCapacity - 4}, size_t{PathCapacity - 3},
                          size_t{LongPathCapacity}}) {
        const std::wstring value(length, L'x');
        ASSERT_TRUE(SetEnvironmentVariableW(L"ZEL_TEST_EXPANSION", value.c_str()));
        PathBuffer path(L"C:%ZEL_TEST_EXPANSION%\\");
        ExpandInPlace(path.text);
        SetEnvironmentVariableW(L"ZEL_TEST_EXPANSION", nullptr);
        const bool fits = length == PathCapacity - 4;
        EXPECT_TRUE(PathBuffer(fits ? L"C:" + value + L"\\" : L"C:%ZEL_TEST_EXPANSION%\\") == path)
            << length;
    }
}

}  // namespace
