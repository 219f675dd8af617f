#include "revert/reg_file_writer.h"

#include <strsafe.h>

namespace {

constexpr DWORD FoldAfterColumn = 76;

void Flush(RegFile* reg) {
    DWORD written = 0;
    const DWORD bytes = reg->used * sizeof(wchar_t);
    if (reg->error == ERROR_SUCCESS && bytes > 0 &&
        !WriteFile(reg->file, reg->buffer, bytes, &written, nullptr)) {
        reg->error = GetLastError();
    } else if (reg->error == ERROR_SUCCESS && written != bytes) {
        reg->error = ERROR_WRITE_FAULT;
    }
    reg->used = 0;
}

void PutUnit(RegFile* reg, wchar_t unit) {
    if (reg->used == RegFileBufferUnits) Flush(reg);
    reg->buffer[reg->used++] = unit;
    ++reg->column;
}

}  // namespace

DWORD CreateRegFile(RegFile* reg, const wchar_t* path) {
    reg->error = ERROR_SUCCESS;
    reg->column = 0;
    reg->used = 0;
    reg->file =
        CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (reg->file == INVALID_HANDLE_VALUE) return GetLastError();
    PutUnit(reg, 0xFEFF);
    PutText(reg, L"Windows Registry Editor Version 5.00");
    EndLine(reg);
    EndLine(reg);
    return ERROR_SUCCESS;
}

DWORD CloseRegFile(RegFile* reg) {
    Flush(reg);
    if (!CloseHandle(reg->file) && reg->error == ERROR_SUCCESS) reg->error = GetLastError();
    reg->file = INVALID_HANDLE_VALUE;
    return reg->error;
}

void PutUnits(RegFile* reg, const wchar_t* units, size_t count) {
    for (size_t i = 0; i < count; ++i) PutUnit(reg, units[i]);
}

void PutText(RegFile* reg, const wchar_t* text) {
    for (; *text; ++text) PutUnit(reg, *text);
}

void EndLine(RegFile* reg) {
    PutUnit(reg, L'\r');
    PutUnit(reg, L'\n');
    reg->column = 0;
}

void PutEscaped(RegFile* reg, const wchar_t* units, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        if (units[i] == L'\\' || units[i] == L'"') PutUnit(reg, L'\\');
        PutUnit(reg, units[i]);
    }
}

void PutValueName(RegFile* reg, const wchar_t* name, size_t length) {
    if (length == 0) {
        PutText(reg, L"@=");
        return;
    }
    PutUnit(reg, L'"');
    PutEscaped(reg, name, length);
    PutText(reg, L"\"=");
}

void PutHexType(RegFile* reg, DWORD type) {
    wchar_t text[24];
    if (type == REG_BINARY) {
        PutText(reg, L"hex:");
        return;
    }
    StringCchPrintfW(text, ARRAYSIZE(text), L"hex(%lx):", type);
    PutText(reg, text);
}

void PutHexBytes(RegFile* reg, const BYTE* bytes, DWORD count, bool last) {
    static const wchar_t Digits[] = L"0123456789abcdef";
    for (DWORD i = 0; i < count; ++i) {
        PutUnit(reg, Digits[bytes[i] >> 4]);
        PutUnit(reg, Digits[bytes[i] & 15]);
        if (last && i + 1 == count) break;
        PutUnit(reg, L',');
        if (reg->column > FoldAfterColumn) {
            PutUnit(reg, L'\\');
            EndLine(reg);
            PutText(reg, L"  ");
        }
    }
}
