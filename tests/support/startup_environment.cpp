#include <gtest/gtest.h>

#include "app/privileges.h"
#include "app/startup.h"

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

}  // namespace
