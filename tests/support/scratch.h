#pragma once
#include <windows.h>

#include <map>
#include <string>
#include <vector>

// A folder of its own under the temporary folder, removed with everything in
// it when the object goes.
class ScratchFolder {
 public:
    explicit ScratchFolder(const std::wstring& tag);
    ~ScratchFolder();
    const std::wstring& path() const { return path_; }
    std::wstring operator/(const std::wstring& name) const { return path_ + L"\\" + name; }

 private:
    std::wstring path_;
};

// Removes a file or a folder tree, clearing attributes first; links are
// removed, never followed, and names that hold "\" are never joined.
void RemoveTree(const std::wstring& path);

bool WriteFileBytes(const std::wstring& path, const std::string& bytes);  // makes the folders too
std::string ReadFileBytes(const std::wstring& path);                      // empty when unreadable
bool FileExists(const std::wstring& path);
bool FolderExists(const std::wstring& path);
// Every entry under folder by relative path, sorted, folders ending in "\";
// and the same with each file's bytes ("" for a folder).
std::vector<std::wstring> ListTree(const std::wstring& folder);
std::map<std::wstring, std::string> TreeBytes(const std::wstring& folder);
std::vector<std::wstring> TopEntries(const std::wstring& folder);  // the entries directly in it
// Dates a folder `days` back (forward when negative): Wine shows its last write time as the
// creation time that retention reads.
bool AgeFolder(const std::wstring& folder, double days);
// How many names the file at path has (hard links); 0 when it cannot be told.
DWORD LinkCount(const std::wstring& path);

// A UTF-16LE file with a byte-order mark, as ASCII ("" without the mark).
std::string ReadUtf16Text(const std::wstring& path);
std::string Utf16Bytes(const std::wstring& text);  // as the location texts hold it
std::string Narrow(const std::wstring& text);      // ASCII texts only
std::wstring Widen(const std::string& text);       // ASCII texts only
std::wstring Upper(std::wstring text);

std::wstring DateName(int daysAgo);  // YYYY-MM-DD of the local date that many days ago
inline std::wstring TodayFolderName() { return DateName(0); }
std::wstring WindowsDir();
std::wstring SystemDirectory();
// A report line as the programs print it: prefix, " [", system text, "]".
std::string ReportLine(const std::string& prefix, DWORD code);
// The regf files that tests/hives/make_hives.py wrote beside the test programs.
std::wstring HiveFile(const std::wstring& name);
// A hive file that Windows wrote, in build/real-hives, where scripts/fetch-real-hives puts them.
std::wstring WindowsHive(const std::wstring& name);
// The files Windows wrote that scripts/fetch-real-hives brings, as tests/real-hives.sha256 names
// them.
std::vector<std::wstring> WindowsHiveNames();
// True when the files Windows wrote named here (when none are, every file the fetch brings) are
// all there; otherwise the test is skipped, and the skip names what it lacks.
bool HaveWindowsHives(std::vector<std::wstring> names = {});

// Small registry helpers; the setters return the Reg* status.
LSTATUS SetStringValue(HKEY root, const std::wstring& key, const std::wstring& name,
                       const std::wstring& value, DWORD type = REG_SZ);
LSTATUS DeleteKeyTree(HKEY root, const std::wstring& key);
bool KeyExists(HKEY root, const std::wstring& key);
// Empty when the value is missing or not a string; *type gets its type.
std::wstring ReadStringValue(HKEY root, const std::wstring& key, const std::wstring& name,
                             DWORD* type = nullptr);
// 0xDEADBEEF when the value is missing or not a DWORD.
DWORD ReadDwordValue(HKEY root, const std::wstring& key, const std::wstring& name);
// Every key and value under key as the registry's calls read them, sorted:
// "K path" and "V path name type data", the path from key, names (UTF-16LE)
// and data in hex ("-" when empty), as tests/hives/make_exports.py writes hivex's.
std::vector<std::string> KeyContents(HKEY key);
std::string HexBytes(const void* bytes, size_t count);

// Makes Wine report another Windows version to zel.exe while it lives
// ("winxp", "vista", "win7", "win8", "win81", "win10").
struct ScopedWineVersion {
    explicit ScopedWineVersion(const std::wstring& version);
    ~ScopedWineVersion();
};
