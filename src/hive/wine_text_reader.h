#pragma once
// The walk calls of hive/hive.h over Wine's text save of a key: the first
// call reads and parses the whole file (hive/wine_text_tree.h), and every
// call answers from that. Text the parse refuses makes each call fail with
// ERROR_BADDB.
#include "hive/hive_state.h"

// ERROR_SUCCESS once the text is parsed; else why it cannot be walked.
// The walk calls below check it themselves.
DWORD WineTextReady(Hive* hive);
void FreeWineText(Hive* hive);

DWORD TextRoot(Hive* hive, HiveKey* root);
DWORD TextKeyInfo(Hive* hive, HiveKey key, HiveKeyInfo* info);
DWORD TextKeyName(Hive* hive, HiveKey key, wchar_t* name, DWORD capacity);
DWORD TextNextSubkey(Hive* hive, HiveKey key, HiveSubkeyCursor* cursor, HiveKey* subkey);
DWORD TextFindSubkey(Hive* hive, HiveKey key, const wchar_t* name, HiveKey* subkey);
DWORD TextValueAt(Hive* hive, HiveKey key, DWORD index, HiveValue* value);
DWORD TextValueInfo(Hive* hive, HiveValue value, HiveValueInfo* info);
DWORD TextValueName(Hive* hive, HiveValue value, wchar_t* name, DWORD capacity);
DWORD TextValueData(Hive* hive, HiveValue value, DWORD offset, BYTE* data, DWORD count);
