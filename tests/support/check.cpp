#include "support/check.h"

#include <stdio.h>
#include <string.h>

namespace {

struct Test {
    const char* name;
    TestFunction function;
};
std::vector<Test>& Tests() {
    static std::vector<Test> tests;
    return tests;
}
std::vector<std::string> Labels;
int Failures = 0;
bool Skipped = false;

}  // namespace

TestRegistration::TestRegistration(const char* name, TestFunction function) {
    Tests().push_back({name, function});
}

Context::Context(const std::string& label) { Labels.push_back(label); }
Context::Context(const std::wstring& label) { Labels.push_back(Show(label)); }
Context::~Context() { Labels.pop_back(); }

std::string Show(const std::wstring& text) {
    std::string narrow = "\"";
    for (wchar_t c : text) {
        if (c >= 0x20 && c < 0x7F) {
            narrow += static_cast<char>(c);
        } else {
            char escaped[16];
            snprintf(escaped, sizeof(escaped), "\\u%04x", static_cast<unsigned>(c));
            narrow += escaped;
        }
    }
    return narrow + "\"";
}

void Skip(const std::string& reason) {
    Skipped = true;
    fprintf(stderr, "skipped: %s\n", reason.c_str());
}

bool Report(bool passed, const char* file, int line, const std::string& message) {
    if (passed) return true;
    ++Failures;
    fprintf(stderr, "%s:%d: failed: %s\n", file, line, message.c_str());
    for (const std::string& label : Labels) fprintf(stderr, "  in %s\n", label.c_str());
    fflush(stderr);
    return false;
}

// With names on the command line, only those tests run. A test whose name
// begins with "Child" runs only when named: a scene starts it in a child
// process of its own.
int wmain(int argc, wchar_t** argv) {
    int ran = 0;
    for (const Test& test : Tests()) {
        bool chosen = argc < 2 && strncmp(test.name, "Child", 5) != 0;
        for (int i = 1; i < argc; ++i) chosen = chosen || std::wstring(argv[i]) == std::wstring(test.name, test.name + strlen(test.name));
        if (!chosen) continue;
        int before = Failures;
        test.function();
        ++ran;
        fprintf(stderr, "%s %s\n", Failures == before ? "ok    " : "FAILED", test.name);
    }
    fprintf(stderr, "%d tests, %d failed checks\n", ran, Failures);
    if (Failures == 0 && Skipped) return 77;
    return Failures == 0 && ran > 0 ? 0 : 1;
}
