#pragma once
// Keys named as the live system names them, and the hive file of a backup
// that holds each: HKLM\SOFTWARE\... lies in SOFTWARE, HKU\.DEFAULT\... in
// DEFAULT, HKU\<SID>\... in <SID>\NTUSER.DAT, HKU\<SID>_Classes\... in
// <SID>\UsrClass.dat, HKLM\BCD00000000\... in BCD.
#include <windows.h>

#include "hive/hive.h"
#include "revert/text_buffer.h"
#include "shared/path_join.h"

struct KeyInBackup {
    wchar_t label[JoinedPathCapacity];    // the hive's file in the backup: "S-1-5-...\NTUSER.DAT"
    wchar_t hiveKey[JoinedPathCapacity];  // its key in full: "HKEY_USERS\S-1-5-..."
    const wchar_t* below;                 // the names below that key, "\" between them
    size_t belowLength;                   // 0 for the hive's own key
};

// Reads a key given as HKLM\... or HKU\... (HKEY_LOCAL_MACHINE and
// HKEY_USERS too, any case). ERROR_SUCCESS; or ERROR_INVALID_PARAMETER for a
// key that names no hive, or that holds an empty name. `given` must outlive
// *key.
DWORD ReadKeyPath(const wchar_t* given, KeyInBackup* key);

// The full key of the hive that lies at `label` in a backup ("DEFAULT" gives
// "HKEY_USERS\.DEFAULT"); false for a label that is no hive's.
bool HiveKeyOfLabel(const wchar_t* label, wchar_t* hiveKey);

// Finds the key below the hive's root, each name compared as Windows
// compares them, and sets *name to its full name with the names as the hive
// spells them. SYSTEM's CurrentControlSet, which a running system makes,
// is the control set that Select\Current names when the hive has no key of
// that name. ERROR_FILE_NOT_FOUND when a name is not there.
DWORD FindKeyInHive(Hive* hive, const KeyInBackup& key, HiveKey* found, TextBuffer* name);

// Appends "\" and the key's name (the name alone when the text is empty).
DWORD AppendKeyName(Hive* hive, HiveKey key, TextBuffer* text);
// The value's name in place of what the text held; `length` from its info.
DWORD ReadValueName(Hive* hive, HiveValue value, DWORD length, TextBuffer* text);

// Opens the hive file at `label` in `folder` and judges it: ERROR_SUCCESS
// with *hive open when it passed, and a line saying how a dirty one was
// read: after its logs, or as it is when they could not mend it. Otherwise
// the hive stays closed and a line says why, naming `folder` when `named`:
// ERROR_FILE_NOT_FOUND (printed by none) when the folder holds no such file,
// ERROR_BADDB when it failed its check or is Wine's text save (only regf
// hives are read), or the error that kept it from being read.
DWORD OpenBackupHive(const wchar_t* folder, const wchar_t* label, bool named, HiveHandle* hive);
