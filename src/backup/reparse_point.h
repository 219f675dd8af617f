#pragma once
#include <windows.h>

// When path (a 2048-character buffer) is a junction or symbolic link to a
// directory, replaces it with the link's target, and spelling (another
// spelling of the same path, or nullptr) with the target as it would be
// told from that spelling. False leaves both unchanged.
bool ResolveReparsePoint(wchar_t* path, wchar_t* spelling);

// Applies the reparse data that FSCTL_GET_REPARSE_POINT returned (`size`
// bytes at `data`) to path, a buffer of `capacity` characters (at most 2048
// of them are used): a junction or an absolute symbolic link replaces it with
// the upper-cased print name, a relative symbolic link replaces its last
// component with the print name. False, with path unchanged, for any other
// tag, for data whose lengths or offsets do not lie within `size`, and for a
// target that would not fit.
bool DecodeReparseTarget(const BYTE* data, DWORD size, wchar_t* path, size_t capacity);
