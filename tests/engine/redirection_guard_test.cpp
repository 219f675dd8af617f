#include <gtest/gtest.h>

#include "app/process_state.h"
#include "backup/redirection_guard.h"

namespace {

// Stands in for the platform's WOW64 functions, which a 64-bit process lacks.
struct FakeWow64 {
    int disableCalls = 0;
    int revertCalls = 0;
    BOOL disableResult = TRUE;
    BOOL revertResult = TRUE;
    PVOID lastReverted = nullptr;
};
FakeWow64 Fake;

BOOL WINAPI FakeDisable(PVOID* saved) {
    ++Fake.disableCalls;
    *saved = reinterpret_cast<PVOID>(0x5eed);
    return Fake.disableResult;
}

BOOL WINAPI FakeRevert(PVOID saved) {
    ++Fake.revertCalls;
    Fake.lastReverted = saved;
    return Fake.revertResult;
}

class SimulatedWow64 : public ::testing::Test {
protected:
    void SetUp() override {
        Fake = FakeWow64{};
        Wow64DisableRedirectionEntry = FakeDisable;
        Wow64RevertRedirectionEntry = FakeRevert;
        RedirectionNesting = 1;
    }
    void TearDown() override {
        Wow64DisableRedirectionEntry = nullptr;
        Wow64RevertRedirectionEntry = nullptr;
        RedirectionNesting = 1;
    }
};

TEST_F(SimulatedWow64, OnlyTheOutermostGuardCallsThePlatform) {
    {
        RedirectionGuard outer;
        EXPECT_EQ(0, RedirectionNesting);
        EXPECT_EQ(1, Fake.disableCalls);
        {
            RedirectionGuard inner;
            EXPECT_EQ(-1, RedirectionNesting);
            EXPECT_EQ(1, Fake.disableCalls);
        }
        EXPECT_EQ(0, RedirectionNesting);
        EXPECT_EQ(0, Fake.revertCalls);
    }
    EXPECT_EQ(1, RedirectionNesting);
    EXPECT_EQ(1, Fake.revertCalls);
    EXPECT_EQ(reinterpret_cast<PVOID>(0x5eed), Fake.lastReverted);
}


TEST_F(SimulatedWow64, FailedDisableCorrectsTheCounter) {
    Fake.disableResult = FALSE;
    Fake.revertResult = FALSE;
    {
        RedirectionGuard guard;
        EXPECT_EQ(1, RedirectionNesting);
        EXPECT_EQ(1, Fake.disableCalls);
    }
    // The leave takes the counter to 2: no revert call, nothing to undo.
    EXPECT_EQ(2, RedirectionNesting);
    EXPECT_EQ(0, Fake.revertCalls);
}

TEST_F(SimulatedWow64, FailedRevertCorrectsTheCounter) {
    Fake.revertResult = FALSE;
    { RedirectionGuard guard; }
    EXPECT_EQ(1, Fake.revertCalls);
    EXPECT_EQ(0, RedirectionNesting);
    Fake.revertResult = TRUE;
}

TEST(NativeProcess, GuardNeverCallsThePlatform) {
    Fake = FakeWow64{};
    ASSERT_EQ(nullptr, Wow64DisableRedirectionEntry);
    ASSERT_EQ(nullptr, Wow64RevertRedirectionEntry);
    {
        RedirectionGuard outer;
        RedirectionGuard inner;
        EXPECT_EQ(1, RedirectionNesting);
    }
    EXPECT_EQ(1, RedirectionNesting);
    EXPECT_EQ(0, Fake.disableCalls + Fake.revertCalls);
}

}  // namespace
