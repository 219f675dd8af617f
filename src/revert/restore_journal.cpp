#include "revert/restore_journal.h"

#include <strsafe.h>
#include <wchar.h>

#include "revert/hive_place.h"
#include "shared/console.h"
#include "shared/hive_logs.h"
#include "shared/owned_handle.h"

wchar_t JournalPath[JoinedPathCapacity];

namespace {

// Far beyond what years of restores of a terminal server write.
constexpr DWORD MostJournalBytes = 64u << 20;
constexpr size_t HadDigits = ARRAYSIZE(HiveFileSuffixes);
constexpr wchar_t ByteOrderMark = 0xFEFF;

enum class LineKind { Restore, Have, Restored, Undo, Undone };

struct JournalLine {
    LineKind kind;
    const wchar_t* text;  // the stamp, or for "have" the place
    unsigned had;
};

// The journal as read, its lines split in place; the heap holds them for the
// rest of the run.
wchar_t* Text = nullptr;
JournalLine* Lines = nullptr;
size_t LineCount = 0;
bool Empty = true;      // no byte yet: the next write starts with the byte-order mark
bool EndsWhole = true;  // the last line has its line end

void* Allocate(size_t count, size_t size) {
    if (count > static_cast<size_t>(-1) / size - 1) return nullptr;
    return HeapAlloc(GetProcessHeap(), 0, (count + 1) * size);
}

bool StartsWith(const wchar_t* line, const wchar_t* word, const wchar_t** rest) {
    const size_t length = wcslen(word);
    if (wcsncmp(line, word, length) != 0 || line[length] != L' ') return false;
    *rest = line + length + 1;
    return true;
}

// One whole line; false for one revert does not write.
bool ReadLine(const wchar_t* text, JournalLine* line) {
    static const struct {
        const wchar_t* word;
        LineKind kind;
    } stamped[] = {{L"restore", LineKind::Restore},
                   {L"restored", LineKind::Restored},
                   {L"undo", LineKind::Undo},
                   {L"undone", LineKind::Undone}};
    for (const auto& each : stamped) {
        if (StartsWith(text, each.word, &line->text)) {
            line->kind = each.kind;
            return IsStamp(line->text);
        }
    }
    const wchar_t* rest = nullptr;
    if (!StartsWith(text, L"have", &rest)) return false;
    line->kind = LineKind::Have;
    line->had = 0;
    for (size_t i = 0; i < HadDigits; ++i) {
        if (rest[i] != L'0' && rest[i] != L'1') return false;
        if (rest[i] == L'1') line->had |= 1u << i;
    }
    line->text = rest + HadDigits + 1;
    return rest[HadDigits] == L' ' && line->text[0] == L'\\';
}

bool HasLine(LineKind kind, const wchar_t* stamp) {
    for (size_t i = 0; i < LineCount; ++i) {
        if (Lines[i].kind == kind && wcscmp(Lines[i].text, stamp) == 0) return true;
    }
    return false;
}

void SplitLines(wchar_t* text, size_t characters) {
    size_t count = 0;
    for (size_t i = 0; i + 1 < characters; ++i) {
        if (text[i] == L'\r' && text[i + 1] == L'\n') ++count;
    }
    Lines = static_cast<JournalLine*>(Allocate(count, sizeof(JournalLine)));
    if (!Lines) return;
    wchar_t* line = text;
    for (size_t i = 0; i + 1 < characters; ++i) {
        if (text[i] != L'\r' || text[i + 1] != L'\n') continue;
        text[i] = L'\0';
        // A line with a NUL in it was torn by a write cut short.
        if (wcslen(line) == static_cast<size_t>(text + i - line) &&
            ReadLine(line, &Lines[LineCount])) {
            ++LineCount;
        }
        line = text + i + 2;
    }
}

DWORD Append(const wchar_t* text) {
    FileHandle file(CreateFileW(JournalPath, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return GetLastError();
    LARGE_INTEGER end{};
    if (!SetFilePointerEx(file.get(), end, nullptr, FILE_END)) return GetLastError();
    // A line cut short by a kill stays a line of its own, and is passed over.
    const wchar_t mark[] = {ByteOrderMark, L'\0'};
    const wchar_t* parts[] = {Empty ? mark : (EndsWhole ? L"" : L"\r\n"), text};
    for (const wchar_t* part : parts) {
        const DWORD bytes = static_cast<DWORD>(wcslen(part) * sizeof(wchar_t));
        DWORD written = 0;
        if (!WriteFile(file.get(), part, bytes, &written, nullptr)) return GetLastError();
        if (written != bytes) return ERROR_WRITE_FAULT;
    }
    if (!FlushFileBuffers(file.get())) return GetLastError();
    Empty = false;
    EndsWhole = true;
    return ERROR_SUCCESS;
}

}  // namespace

DWORD ReadJournal() {
    FileHandle file(CreateFileW(JournalPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) return GetLastError() == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : GetLastError();
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size)) return GetLastError();
    if (size.QuadPart > MostJournalBytes) return ERROR_FILE_TOO_LARGE;
    const DWORD bytes = static_cast<DWORD>(size.QuadPart);
    const size_t characters = bytes / sizeof(wchar_t);
    Text = static_cast<wchar_t*>(Allocate(characters + 1, sizeof(wchar_t)));
    if (!Text) return ERROR_NOT_ENOUGH_MEMORY;
    DWORD read = 0;
    if (!ReadFile(file.get(), Text, bytes, &read, nullptr)) return GetLastError();
    if (read != bytes) return ERROR_HANDLE_EOF;
    Text[characters] = L'\0';
    Empty = bytes == 0;
    EndsWhole = bytes % sizeof(wchar_t) == 0 &&
                (characters < 2 ? characters == 0 || Text[0] == ByteOrderMark
                                : Text[characters - 2] == L'\r' && Text[characters - 1] == L'\n');
    const size_t skip = characters > 0 && Text[0] == ByteOrderMark ? 1 : 0;
    SplitLines(Text + skip, characters - skip);
    return Lines ? ERROR_SUCCESS : ERROR_NOT_ENOUGH_MEMORY;
}

bool FindLatestRestore(wchar_t* stamp, bool* cutShort) {
    for (size_t i = LineCount; i-- > 0;) {
        const wchar_t* found = Lines[i].text;
        if (Lines[i].kind != LineKind::Restore || HasLine(LineKind::Undone, found)) continue;
        StringCchCopyW(stamp, StampCapacity, found);
        *cutShort = !HasLine(LineKind::Restored, found) || HasLine(LineKind::Undo, found);
        return true;
    }
    return false;
}

bool IsStampTaken(const wchar_t* stamp) { return HasLine(LineKind::Restore, stamp); }

bool NextRestorePlace(const wchar_t* stamp, size_t* cursor, JournalPlace* place) {
    // The "have" lines follow their "restore" line, written with it.
    for (size_t i = 0; *cursor == 0 && i < LineCount; ++i) {
        if (Lines[i].kind == LineKind::Restore && wcscmp(Lines[i].text, stamp) == 0)
            *cursor = i + 1;
    }
    if (*cursor == 0 || *cursor >= LineCount || Lines[*cursor].kind != LineKind::Have) return false;
    *place = {Lines[*cursor].had, Lines[*cursor].text};
    ++*cursor;
    return true;
}

DWORD AppendJournal(const wchar_t* word, const wchar_t* stamp) {
    wchar_t line[32];
    FormatText(line, ARRAYSIZE(line), L"%s %s\r\n", word, stamp);
    return Append(line);
}

DWORD AppendRestore(const wchar_t* stamp, const HiveTable& hives, const wchar_t* root) {
    // "have " + the digits + " " + the place + CR LF for each, after the first line.
    size_t characters = 32;
    for (size_t i = 0; i < hives.items.size(); ++i) {
        if (!hives.items[i].chosen) continue;
        characters += HadDigits + 8 + wcslen(BelowRoot(hives.items[i].destination, root));
    }
    auto* block = static_cast<wchar_t*>(Allocate(characters, sizeof(wchar_t)));
    if (!block) return ERROR_NOT_ENOUGH_MEMORY;
    size_t used = 0;
    StringCchPrintfW(block, characters, L"restore %s\r\n", stamp);
    for (size_t i = 0; i < hives.items.size(); ++i) {
        if (!hives.items[i].chosen) continue;
        used += wcslen(block + used);
        wchar_t had[HadDigits + 1];
        for (size_t bit = 0; bit < HadDigits; ++bit) {
            had[bit] = (hives.items[i].present & (1u << bit)) != 0 ? L'1' : L'0';
        }
        had[HadDigits] = L'\0';
        StringCchPrintfW(block + used, characters - used, L"have %s %s\r\n", had,
                         BelowRoot(hives.items[i].destination, root));
    }
    const DWORD error = Append(block);
    HeapFree(GetProcessHeap(), 0, block);
    return error;
}
