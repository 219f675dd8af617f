#pragma once
#include <windows.h>

#include <string>
#include <vector>

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

// Removes a file or a folder tree, clearing read-only/hidden/system first;
// links are removed, never followed.
void RemoveTree(const std::wstring& path);

// Writes a file, making its missing folders first.
bool WriteFileBytes(const std::wstring& path, const std::string& bytes);
// Empty string and false in *ok when the file cannot be read.
std::string ReadFileBytes(const std::wstring& path, bool* ok = nullptr);
bool FileExists(const std::wstring& path);    // a file, not a folder
bool FolderExists(const std::wstring& path);  // a folder, not a file

// Every entry under folder by relative path, sorted, folders ending in "\".
std::vector<std::wstring> ListTree(const std::wstring& folder);

// Dates a folder `days` days back. Wine shows a folder's last write time as
// its creation time, the one retention reads.
bool AgeFolder(const std::wstring& folder, double days);

// A UTF-16LE text file with a byte-order mark, as ASCII; "(no byte-order
// mark)" when it has none.
std::string ReadUtf16Text(const std::wstring& path);

// The UTF-16LE bytes of a text, as the location text files hold it.
std::string Utf16Bytes(const std::wstring& text);
std::string Narrow(const std::wstring& text);  // ASCII texts only
std::wstring Widen(const std::string& text);   // ASCII texts only
std::wstring Upper(std::wstring text);

// Today's folder name from the local date: YYYY-MM-DD.
std::wstring TodayFolderName();

// The Windows directory and the system directory, as the platform reports them.
std::wstring WindowsDir();
std::wstring SystemDirectory();

// Text for a Win32 error code as the programs' reports show it.
std::string SystemText(DWORD code);
// A whole report line: prefix, " [", the system's text, "]".
std::string ReportLine(const std::string& prefix, DWORD code);

// The regf files that tests/hives/make_hives.py wrote beside the test programs.
std::wstring HiveFile(const std::wstring& name);
