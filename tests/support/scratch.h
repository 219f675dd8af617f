#pragma once
#include <windows.h>

#include <string>

// A folder of its own under the temporary folder, removed with everything in
// it (attributes cleared first) when the object goes.
class ScratchFolder {
public:
    explicit ScratchFolder(const std::wstring& tag = L"zeltest");
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::wstring& path() const { return path_; }
    std::wstring operator/(const std::wstring& name) const { return path_ + L"\\" + name; }

private:
    std::wstring path_;
};

// Removes a file or a folder tree, clearing read-only/hidden/system first.
void RemoveTree(const std::wstring& path);

bool WriteFileBytes(const std::wstring& path, const std::string& bytes);
// Empty string and false in *ok when the file cannot be read.
std::string ReadFileBytes(const std::wstring& path, bool* ok = nullptr);
bool FileExists(const std::wstring& path);    // a file, not a folder
bool FolderExists(const std::wstring& path);  // a folder, not a file

// The UTF-16LE bytes of a text, as the location text files hold it.
std::string Utf16Bytes(const std::wstring& text);
std::string Narrow(const std::wstring& text);  // ASCII texts only
std::wstring Widen(const std::string& text);   // ASCII texts only

// Today's folder name from the local date: YYYY-MM-DD.
std::wstring TodayFolderName();

// The Windows directory and the system directory, as the platform reports them.
std::wstring WindowsDir();
std::wstring SystemDirectory();

// Text for a Win32 error code as FormatMessageW gives it with the flags the
// program's reports use (0x12FF); empty when the system has none.
std::string SystemText(DWORD code);
