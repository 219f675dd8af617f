#pragma once
#include <string>

// Sends the C runtime's standard output to a temporary file while it lives,
// so unit tests can check the exact bytes the console procedures print.
class StdoutCapture {
public:
    StdoutCapture();
    ~StdoutCapture();
    StdoutCapture(const StdoutCapture&) = delete;
    StdoutCapture& operator=(const StdoutCapture&) = delete;

    // Everything printed since the capture began.
    std::string Bytes();

    // True while a capture holds standard output; test failures are then
    // reported on standard error, or they would be captured too.
    static bool Active();

private:
    static int active_;
    int savedFd_ = -1;
    int fileFd_ = -1;
    std::wstring path_;
};
