#include "msi_actions/installer_session.h"

#include <wchar.h>

#include "shared/owned_handle.h"

namespace {

struct MsiTraits {
    using Type = MSIHANDLE;
    static Type invalid() { return 0; }
    static void close(Type h) { MsiCloseHandle(h); }
};
using MsiRecord = Owned<MsiTraits>;

// The installer's buffers count characters in a DWORD, the terminator
// included on the way in and left out on the way back.
DWORD Characters(size_t capacity) { return capacity > MAXDWORD ? MAXDWORD : DWORD(capacity); }

}  // namespace

bool ReadProperty(MSIHANDLE install, const wchar_t* name, wchar_t* value, size_t capacity) {
    if (capacity == 0) return false;
    DWORD size = Characters(capacity);
    if (MsiGetPropertyW(install, name, value, &size) == ERROR_SUCCESS) return true;
    value[0] = L'\0';
    return false;
}

bool FormatText(MSIHANDLE install, const wchar_t* text, wchar_t* formatted, size_t capacity) {
    if (capacity == 0) return false;
    formatted[0] = L'\0';
    MsiRecord record(MsiCreateRecord(0));
    if (!record || MsiRecordSetStringW(record.get(), 0, text) != ERROR_SUCCESS) return false;
    DWORD size = Characters(capacity);
    if (MsiFormatRecordW(install, record.get(), formatted, &size) == ERROR_SUCCESS) return true;
    formatted[0] = L'\0';
    return false;
}

void SendInstallMessage(MSIHANDLE install, INSTALLMESSAGE kind, const wchar_t* text) {
    // The message is formatted, and a field put into it may be formatted
    // again; so every bracket (every error report of zel holds a "[...]") is
    // written as the escape that formats to itself: [\[] and [\]].
    const size_t characters = 4 * wcslen(text) + 1;  // each bracket takes four
    wchar_t* escaped =
        static_cast<wchar_t*>(HeapAlloc(GetProcessHeap(), 0, characters * sizeof(wchar_t)));
    if (!escaped) return;
    wchar_t* out = escaped;
    for (const wchar_t* c = text; *c; ++c) {
        if (*c == L'[' || *c == L']') {
            *out++ = L'[';
            *out++ = L'\\';
            *out++ = *c;
            *out++ = L']';
        } else {
            *out++ = *c;
        }
    }
    *out = L'\0';
    MsiRecord record(MsiCreateRecord(0));
    if (record) MsiRecordSetStringW(record.get(), 0, escaped);
    HeapFree(GetProcessHeap(), 0, escaped);
    if (!record) return;
    const UINT style = kind == INSTALLMESSAGE_ERROR ? MB_OK | MB_ICONERROR : 0;
    MsiProcessMessage(install, static_cast<INSTALLMESSAGE>(kind | style), record.get());
}
