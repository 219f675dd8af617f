#include "report/console.h"

#include <fcntl.h>
#include <io.h>
#include <limits.h>
#include <stdarg.h>
#include <stdio.h>
#include <strsafe.h>
#include <wchar.h>

#include "app/process_state.h"
#include "resource_ids.h"

namespace {

constexpr DWORD SystemTextFlags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS |
                                  FORMAT_MESSAGE_MAX_WIDTH_MASK;  // 0x12FF

// Room kept for the system text when a long prefix has to be cut.
constexpr size_t SystemTextReserve = 512;

// Enough for every line but a very long path, which then goes out in pieces.
constexpr size_t StdoutBufferBytes = 4096;

void WriteBytes(const char* bytes, size_t count) {
    static bool prepared = false;
    if (!prepared) {
        fflush(stdout);
        // The runtime leaves stdout unbuffered on a character device (a
        // console, NUL) and then writes it one byte per system call; a
        // full buffer, flushed at the end of every line, writes each line
        // at once.
        setvbuf(stdout, nullptr, _IOFBF, StdoutBufferBytes);
        // The CR LF is written by us; the runtime must not add a second CR.
        _setmode(_fileno(stdout), _O_BINARY);
        prepared = true;
    }
    fwrite(bytes, 1, count, stdout);
}

// Converts under the locale chosen at start-up; what the locale cannot show
// becomes '?'.
void WriteWide(const wchar_t* text) {
    char bytes[256];
    size_t used = 0;
    mbstate_t state{};
    for (; *text; ++text) {
        char one[MB_LEN_MAX];
        size_t n = wcrtomb(one, *text, &state);
        if (n == static_cast<size_t>(-1)) {
            state = mbstate_t{};
            one[0] = '?';
            n = 1;
        }
        if (used + n > sizeof(bytes)) {
            WriteBytes(bytes, used);
            used = 0;
        }
        for (size_t i = 0; i < n; ++i) bytes[used++] = one[i];
    }
    WriteBytes(bytes, used);
}

}  // namespace

void PrintLine(const wchar_t* text) {
    if (ServiceMode) return;
    WriteWide(text);
    WriteBytes("\r\n", 2);
    fflush(stdout);
}

void LoadResourceText(UINT id, wchar_t* buffer, size_t capacity) {
    buffer[0] = L'\0';
    int room = capacity > INT_MAX ? INT_MAX : static_cast<int>(capacity);
    if (LoadStringW(GetModuleHandleW(nullptr), id, buffer, room) <= 0) buffer[0] = L'\0';
}

void PrintResource(UINT id) {
    wchar_t text[LongPathCapacity];
    LoadResourceText(id, text, ARRAYSIZE(text));
    PrintLine(text);
}

void FormatText(wchar_t* destination, size_t capacity, const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    // A result too long for the buffer is cut; strsafe always terminates.
    StringCchVPrintfW(destination, capacity, format, args);
    va_end(args);
}

void FormatResource(wchar_t* destination, size_t capacity, UINT id, ...) {
    wchar_t format[LongPathCapacity];
    LoadResourceText(id, format, ARRAYSIZE(format));
    va_list args;
    va_start(args, id);
    StringCchVPrintfW(destination, capacity, format, args);
    va_end(args);
}

void PrintError(DWORD code, const wchar_t* prefix) {
    wchar_t line[LongPathCapacity];
    size_t prefixRoom = ARRAYSIZE(line) - 2 - 1 - SystemTextReserve;
    StringCchCopyNW(line, ARRAYSIZE(line), prefix, prefixRoom - 1);
    StringCchCatW(line, ARRAYSIZE(line), L" [");

    size_t used = 0;
    StringCchLengthW(line, ARRAYSIZE(line), &used);
    wchar_t* text = line + used;
    DWORD room = static_cast<DWORD>(ARRAYSIZE(line) - used - 1);  // one kept for "]"
    DWORD written = FormatMessageW(SystemTextFlags, nullptr, code, 0, text, room, nullptr);
    if (written == 0) FormatResource(text, room, IDS_ERROR_NUMBER, static_cast<int>(code));
    StringCchCatW(line, ARRAYSIZE(line), L"]");
    PrintLine(line);
}

void PrintHiveSaved(const wchar_t* hiveName) {
    wchar_t line[PathCapacity];
    FormatResource(line, ARRAYSIZE(line), IDS_BACKUP_COMPLETED, hiveName);
    PrintLine(line);
}

void PrintHiveFailed(const wchar_t* hiveName, DWORD code) {
    wchar_t prefix[PathCapacity];
    FormatResource(prefix, ARRAYSIZE(prefix), IDS_SAVING_ERROR, hiveName);
    PrintError(code, prefix);
}
