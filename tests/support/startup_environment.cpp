#include <gtest/gtest.h>

#include <stdio.h>

#include "app/privileges.h"
#include "app/startup.h"
#include "support/stdout_capture.h"

namespace {

// Every test program starts the way zel.exe does: the start-up values are
// filled and the backup and restore privileges enabled before any test.
class StartupEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        CaptureStartupValues();
        EnableBackupPrivileges();
    }
};

const auto* const Registered = ::testing::AddGlobalTestEnvironment(new StartupEnvironment);

// A failure inside a stdout capture would vanish into the captured bytes.
class CapturedFailureReporter : public ::testing::EmptyTestEventListener {
public:
    void OnTestPartResult(const ::testing::TestPartResult& result) override {
        if (!result.failed() || !StdoutCapture::Active()) return;
        fprintf(stderr, "%s:%d: Failure (while stdout was captured)\n%s\n",
                result.file_name() ? result.file_name() : "?", result.line_number(),
                result.message());
    }
};

const bool Listening = [] {
    ::testing::UnitTest::GetInstance()->listeners().Append(new CapturedFailureReporter);
    return true;
}();

}  // namespace
