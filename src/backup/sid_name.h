#pragma once
// The names of the profile list come from the registry, where an
// administrator (or a program) may have made any key; only a name shaped
// like a SID is ever joined into a path.
#include <windows.h>

// True for a SID in its string form: "S-1-", the identifier authority (a
// decimal number below 2^32, or "0x" and 12 hex digits), then up to 15
// sub-authorities, each "-" and a decimal number below 2^32. The "S" may be
// lower case. The ".bak" that Windows appends to the key of a profile it
// could not load may follow, in any case.
bool LooksLikeSid(const wchar_t* name);
