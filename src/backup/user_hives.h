#pragma once
#include <windows.h>

// Saves every profile's NTUSER.DAT and UsrClass.dat into BackupRoot\<SID>.
void BackupUserHives();

// Saves HKEY_USERS\keyName, or copies livePath when the key is missing, to
// folder\baseName + extension. True when the hive file was produced.
bool SaveUserHive(const wchar_t* keyName, const wchar_t* livePath, const wchar_t* baseName,
                  const wchar_t* folder, const wchar_t* extension);

// Expands environment references in a 2048-character path buffer in place;
// an expansion that does not fit leaves the buffer as it was.
void ExpandInPlace(wchar_t* path);
