#include "support/check.h"

#include <stdio.h>
#include <string.h>

#include "support/scratch.h"

namespace {

std::vector<std::pair<const char*, TestFunction>>& Tests() {
    static std::vector<std::pair<const char*, TestFunction>> tests;
    return tests;
}
int Failures = 0;
int Skips = 0;

}  // namespace

TestRegistration::TestRegistration(const char* name, TestFunction function) {
    Tests().push_back({name, function});
}

std::vector<std::string>& Context::Labels() {
    static std::vector<std::string> labels;
    return labels;
}

std::string Show(const std::wstring& text) { return Show(Narrow(text)); }

void Skip(const std::string& reason) {
    ++Skips;
    fprintf(stderr, "skipped: %s\n", reason.c_str());
}

bool Report(bool passed, const char* file, int line, const std::string& message) {
    if (passed) return true;
    ++Failures;
    fprintf(stderr, "%s:%d: failed: %s\n", file, line, message.c_str());
    for (const std::string& label : Context::Labels()) fprintf(stderr, "  in %s\n", label.c_str());
    fflush(stderr);
    return false;
}

// With names on the command line, only those tests run. A test whose name
// begins with "Child" runs only when named: a scene starts it in a child
// process of its own.
int wmain(int argc, wchar_t** argv) {
    int ran = 0;
    for (const auto& [name, function] : Tests()) {
        bool chosen = argc < 2 && strncmp(name, "Child", 5) != 0;
        for (int i = 1; i < argc; ++i) chosen = chosen || Narrow(argv[i]) == name;
        if (!chosen) continue;
        const int before = Failures, skipsBefore = Skips;
        function();
        ++ran;
        fprintf(stderr, "%s %s\n",
                Failures != before     ? "FAILED"
                : Skips != skipsBefore ? "skipped"
                                       : "ok    ",
                name);
    }
    fprintf(stderr, "%d tests, %d failed checks\n", ran, Failures);
    if (Failures == 0 && Skips > 0) return 77;
    return Failures == 0 && ran > 0 ? 0 : 1;
}
