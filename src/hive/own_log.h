#pragma once
// The logs beside a hive file, as far as its check needs them: whether one
// of the hive's own lies there, and the base block it carries.
#include <windows.h>

// Looks at NAME.LOG1, NAME.LOG2 and NAME.LOG beside `path`, in that order,
// for the first whose base block is sound (a log's, with the right checksum
// and equal sequence numbers) and belongs to this hive: its last written
// time is `written` (the primary's) or `binWritten` (the first bin's copy
// of it, which is what remains of a damaged base block). When `base` is
// given, that base block goes there as a primary's. False when none does.
bool FindOwnLog(const wchar_t* path, const BYTE* written, const BYTE* binWritten, BYTE* base);
