#pragma once
#include <windows.h>
#include <strsafe.h>
#include <string.h>

#include <string>

#include "app/process_state.h"
#include "support/scratch.h"
#include "support/stdout_capture.h"

// A 2048-character path buffer whose unused part holds a pattern, so that
// "unchanged" can be checked on every character.
struct PathBuffer {
    wchar_t text[PathCapacity];
    explicit PathBuffer(const std::wstring& initial) {
        for (wchar_t& c : text) c = 0xA5A5;
        StringCchCopyW(text, PathCapacity, initial.c_str());
    }
    bool operator==(const PathBuffer& other) const {
        return memcmp(text, other.text, sizeof(text)) == 0;
    }
};

inline std::string HiveBytes(const std::string& tag) {
    std::string bytes = "regf" + tag + '\0';
    for (int i = 0; i < 3000; ++i) bytes.push_back(static_cast<char>((i * 13 + tag.size()) & 0xFF));
    return bytes;
}

inline std::string SavedLine(const std::wstring& key) {
    return "Backup of " + Narrow(key) + " successfully completed\r\n";
}

inline std::string FailedLine(const std::wstring& key, DWORD code) {
    return "Saving error " + Narrow(key) + "  [" + SystemText(code) + "]\r\n";
}

// What `action` prints to standard output.
template <typename Action>
std::string Printed(Action action) {
    StdoutCapture capture;
    action();
    return capture.Bytes();
}
