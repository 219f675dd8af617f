#include "shared/console.h"

#include <fcntl.h>
#include <io.h>
#include <limits.h>
#include <stdarg.h>
#include <stdio.h>
#include <strsafe.h>
#include <wchar.h>

#include "resource_ids.h"

namespace {

bool Silenced = false;

constexpr DWORD SystemTextFlags =
    FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK;

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

void SilenceConsole() { Silenced = true; }

void PrintLine(const wchar_t* text) {
    if (Silenced) return;
    WriteWide(text);
    WriteBytes("\r\n", 2);
    fflush(stdout);
}

void LoadResourceText(UINT id, wchar_t* buffer, size_t capacity) {
    if (capacity == 0) return;
    buffer[0] = L'\0';
    // Strings live in blocks of sixteen; each is a length, then its
    // characters, without a terminator.
    HMODULE module = GetModuleHandleW(nullptr);
    HRSRC block = FindResourceW(module, MAKEINTRESOURCEW(id / 16 + 1), RT_STRING);
    HGLOBAL loaded = block ? LoadResource(module, block) : nullptr;
    const WCHAR* text = loaded ? static_cast<const WCHAR*>(LockResource(loaded)) : nullptr;
    if (!text) return;
    const WCHAR* end = text + SizeofResource(module, block) / sizeof(WCHAR);
    for (UINT index = 0; text < end; ++index) {
        size_t length = *text++;
        if (length > static_cast<size_t>(end - text)) return;
        if (index == id % 16) {
            StringCchCopyNW(buffer, capacity, text, length);
            return;
        }
        text += length;
    }
}

void PrintResource(UINT id) {
    wchar_t text[4096];
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
    wchar_t format[4096];
    LoadResourceText(id, format, ARRAYSIZE(format));
    va_list args;
    va_start(args, id);
    StringCchVPrintfW(destination, capacity, format, args);
    va_end(args);
}

void FormatErrorLine(wchar_t* line, size_t capacity, DWORD code, const wchar_t* prefix) {
    if (capacity <= SystemTextReserve + 4) {
        StringCchCopyW(line, capacity, L"");
        return;
    }
    size_t prefixRoom = capacity - 2 - 1 - SystemTextReserve;
    StringCchCopyNW(line, capacity, prefix, prefixRoom - 1);
    StringCchCatW(line, capacity, L" [");

    size_t used = 0;
    StringCchLengthW(line, capacity, &used);
    wchar_t* text = line + used;
    DWORD room = static_cast<DWORD>(capacity - used - 1);  // one kept for "]"
    DWORD written = FormatMessageW(SystemTextFlags, nullptr, code, 0, text, room, nullptr);
    if (written == 0) FormatResource(text, room, IDS_ERROR_NUMBER, static_cast<int>(code));
    StringCchCatW(line, capacity, L"]");
}

void PrintError(DWORD code, const wchar_t* prefix) {
    wchar_t line[4096];
    FormatErrorLine(line, ARRAYSIZE(line), code, prefix);
    PrintLine(line);
}
