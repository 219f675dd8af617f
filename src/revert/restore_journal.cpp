#include "revert/restore_journal.h"

#include <strsafe.h>
#include <wchar.h>

#include "revert/hive_place.h"
#include "shared/console.h"
#include "shared/hive_logs.h"
#include "shared/owned_handle.h"

namespace {

// Far beyond what years of restores of a terminal server write.
constexpr DWORD MostJournalBytes = 64u << 20;
constexpr size_t HadDigits = ARRAYSIZE(HiveFileSuffixes);
constexpr wchar_t ByteOrderMark = 0xFEFF;

using LineKind = JournalLineKind;

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

bool HasLine(const RestoreJournal& journal, LineKind kind, const wchar_t* stamp) {
    for (const JournalLine& line : journal.lines) {
        if (line.kind == kind && wcscmp(line.text, stamp) == 0) return true;
    }
    return false;
}

bool SplitLines(RestoreJournal* journal, wchar_t* text, size_t characters) {
    size_t count = 0;
    for (size_t i = 0; i + 1 < characters; ++i) {
        if (text[i] == L'\r' && text[i + 1] == L'\n') ++count;
    }
    if (!journal->lines.Reserve(count)) return false;
    wchar_t* line = text;
    for (size_t i = 0; i + 1 < characters; ++i) {
        if (text[i] != L'\r' || text[i + 1] != L'\n') continue;
        text[i] = L'\0';
        // A line with a NUL in it was torn by a write cut short.
        JournalLine read{};
        if (wcslen(line) == static_cast<size_t>(text + i - line) && ReadLine(line, &read)) {
            journal->lines.Append(read);
        }
        line = text + i + 2;
    }
    return true;
}

DWORD Append(RestoreJournal* journal, const wchar_t* text) {
    FileHandle file(CreateFileW(journal->path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return GetLastError();
    LARGE_INTEGER end{};
    if (!SetFilePointerEx(file.get(), end, nullptr, FILE_END)) return GetLastError();
    // A line cut short by a kill stays a line of its own, and is passed over.
    const wchar_t mark[] = {ByteOrderMark, L'\0'};
    const wchar_t* parts[] = {journal->empty ? mark : (journal->endsWhole ? L"" : L"\r\n"), text};
    for (const wchar_t* part : parts) {
        const DWORD bytes = static_cast<DWORD>(wcslen(part) * sizeof(wchar_t));
        DWORD written = 0;
        if (!WriteFile(file.get(), part, bytes, &written, nullptr)) return GetLastError();
        if (written != bytes) return ERROR_WRITE_FAULT;
    }
    if (!FlushFileBuffers(file.get())) return GetLastError();
    journal->empty = false;
    journal->endsWhole = true;
    return ERROR_SUCCESS;
}

}  // namespace

DWORD ReadJournal(RestoreJournal* journal) {
    journal->text.Clear();
    journal->lines.Clear();
    FileHandle file(CreateFileW(journal->path, GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) return GetLastError() == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : GetLastError();
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size)) return GetLastError();
    if (size.QuadPart > MostJournalBytes) return ERROR_FILE_TOO_LARGE;
    const DWORD bytes = static_cast<DWORD>(size.QuadPart);
    const size_t characters = bytes / sizeof(wchar_t);
    // Room for an odd last byte, and the terminator.
    wchar_t* text = journal->text.Extend(characters + 2);
    if (!text) return ERROR_NOT_ENOUGH_MEMORY;
    DWORD read = 0;
    if (!ReadFile(file.get(), text, bytes, &read, nullptr)) return GetLastError();
    if (read != bytes) return ERROR_HANDLE_EOF;
    text[characters] = L'\0';
    journal->empty = bytes == 0;
    journal->endsWhole =
        bytes % sizeof(wchar_t) == 0 &&
        (characters < 2 ? characters == 0 || text[0] == ByteOrderMark
                        : text[characters - 2] == L'\r' && text[characters - 1] == L'\n');
    const size_t skip = characters > 0 && text[0] == ByteOrderMark ? 1 : 0;
    return SplitLines(journal, text + skip, characters - skip) ? ERROR_SUCCESS
                                                               : ERROR_NOT_ENOUGH_MEMORY;
}

bool FindLatestRestore(const RestoreJournal& journal, wchar_t* stamp, bool* cutShort) {
    for (size_t i = journal.lines.size(); i-- > 0;) {
        const wchar_t* found = journal.lines[i].text;
        if (journal.lines[i].kind != LineKind::Restore ||
            HasLine(journal, LineKind::Undone, found)) {
            continue;
        }
        StringCchCopyW(stamp, StampCapacity, found);
        *cutShort =
            !HasLine(journal, LineKind::Restored, found) || HasLine(journal, LineKind::Undo, found);
        return true;
    }
    return false;
}

bool IsStampTaken(const RestoreJournal& journal, const wchar_t* stamp) {
    return HasLine(journal, LineKind::Restore, stamp);
}

bool NextRestorePlace(const RestoreJournal& journal, const wchar_t* stamp, size_t* cursor,
                      JournalPlace* place) {
    const HeapArray<JournalLine>& lines = journal.lines;
    // The "have" lines follow their "restore" line, written with it.
    for (size_t i = 0; *cursor == 0 && i < lines.size(); ++i) {
        if (lines[i].kind == LineKind::Restore && wcscmp(lines[i].text, stamp) == 0)
            *cursor = i + 1;
    }
    if (*cursor == 0 || *cursor >= lines.size() || lines[*cursor].kind != LineKind::Have) {
        return false;
    }
    *place = {lines[*cursor].had, lines[*cursor].text};
    ++*cursor;
    return true;
}

DWORD AppendJournal(RestoreJournal* journal, const wchar_t* word, const wchar_t* stamp) {
    wchar_t line[32];
    FormatText(line, ARRAYSIZE(line), L"%s %s\r\n", word, stamp);
    return Append(journal, line);
}

DWORD AppendRestore(RestoreJournal* journal, const wchar_t* stamp, const HiveTable& hives,
                    const wchar_t* root) {
    // "have " + the digits + " " + the place + CR LF for each, after the first line.
    size_t characters = 32;
    for (size_t i = 0; i < hives.items.size(); ++i) {
        if (!hives.items[i].chosen) continue;
        characters += HadDigits + 8 + wcslen(BelowRoot(hives.items[i].destination, root));
    }
    HeapArray<wchar_t> room;
    wchar_t* block = room.Extend(characters + 1);
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
    return Append(journal, block);
}
