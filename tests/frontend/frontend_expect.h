#pragma once
// Expected console bytes shared by the front-end tests.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "support/scratch.h"

// The four usage lines, each ending in CR LF.
inline const char UsageText[] =
    "Syntax: zel.exe[options] backup_path\r\n"
    "/i - install as a service\r\n"
    "/u - uninstall service\r\n"
    "/days:n - delete backup folders older than n days(default: 15)\r\n";

inline const char BannerLine[] = "ZEL - Corvane v1.20\r\n";

// What a report holds between " [" and "]": the system's text for the code,
// or "Error # N" (N signed) when the system has none.
inline std::string ReportText(DWORD code) {
    std::string text = SystemText(code);
    if (!text.empty()) return text;
    return "Error # " + std::to_string(static_cast<int>(code));
}

// A whole report line on `prefix`, CR LF included.
inline std::string ReportLine(const std::string& prefix, DWORD code) {
    return prefix + " [" + ReportText(code) + "]\r\n";
}

// The first line of `output`, CR LF included (empty when there is no line end).
inline std::string FirstLine(const std::string& output) {
    size_t end = output.find("\r\n");
    return end == std::string::npos ? std::string() : output.substr(0, end + 2);
}

// `line` is a report on `argument` whose prefix had to be cut: a non-empty
// beginning of the argument, then " [", the text for `code`, "]" and CR LF,
// the line itself under the 4096-character report buffer.
inline ::testing::AssertionResult IsCutReport(const std::string& line, const std::string& argument,
                                              DWORD code) {
    const std::string tail = " [" + ReportText(code) + "]\r\n";
    if (line.size() < tail.size() || line.compare(line.size() - tail.size(), tail.size(), tail)) {
        return ::testing::AssertionFailure() << "does not end with \"" << tail << "\": " << line;
    }
    const std::string head = line.substr(0, line.size() - tail.size());
    if (head.empty() || head.size() >= argument.size()) {
        return ::testing::AssertionFailure()
               << "prefix of " << head.size() << " characters for an argument of "
               << argument.size();
    }
    if (argument.compare(0, head.size(), head) != 0) {
        return ::testing::AssertionFailure() << "prefix is not the argument's beginning";
    }
    if (line.size() - 2 >= 4096) {
        return ::testing::AssertionFailure() << "line of " << line.size() - 2 << " characters";
    }
    return ::testing::AssertionSuccess();
}
