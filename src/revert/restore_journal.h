#pragma once
// The restores made on one Windows installation, in the order they were
// made, whatever its clock said: revert.journal in its config folder, beside
// the machine hives. A restore appends, before its first rename, a line with
// its stamp and a line for each file it is about to replace, telling which
// of the hive file and its logs ("", .LOG1, .LOG2, .LOG) are there; then a
// line when it has come to its end. An undo appends a line when it begins and
// one when everything is back. Each goes to the disk before the step it
// announces, so a run cut short anywhere is known as such by the next one.
//     restore 20261206-101500
//     have 1110 \Windows\system32\config\SYSTEM
//     restored 20261206-101500
//     undo 20261206-101500
//     undone 20261206-101500
// UTF-16LE with a byte-order mark and CR LF, as backup.log, so `type` shows
// it. A line that is not whole (a write cut short) is passed over.
#include <windows.h>

#include "revert/backup_hives.h"
#include "shared/heap_array.h"
#include "shared/kept_files.h"

enum class JournalLineKind { Restore, Have, Restored, Undo, Undone };

struct JournalLine {
    JournalLineKind kind;
    const wchar_t* text;  // the stamp, or for "have" the place
    unsigned had;
};

// One run's journal: where it lies, and what it held when read, its lines
// split in place.
struct RestoreJournal {
    wchar_t path[JoinedPathCapacity] = {};  // filled when a run is planned under a root
    HeapArray<wchar_t> text;
    HeapArray<JournalLine> lines;
    bool empty = true;      // no byte yet: the next write starts with the byte-order mark
    bool endsWhole = true;  // the last line has its line end
};

// A file a restore replaced: which of it and its logs were there before
// (bits as PresentHiveFiles gives them), and its path below the root.
struct JournalPlace {
    unsigned had;
    const wchar_t* place;
};

// Reads the journal at its path; a missing one is empty. ERROR_SUCCESS or
// the error (ERROR_NOT_ENOUGH_MEMORY included).
DWORD ReadJournal(RestoreJournal* journal);

// The stamp of the latest restore not undone, and whether it was cut short:
// it did not come to its end, or an undo of it began and did not. False when
// every restore is undone.
bool FindLatestRestore(const RestoreJournal& journal, wchar_t* stamp, bool* cutShort);

// True when a restore of the journal has that stamp.
bool IsStampTaken(const RestoreJournal& journal, const wchar_t* stamp);

// The files the restore under stamp was about to replace, one a call: start
// with *cursor at 0; false after the last.
bool NextRestorePlace(const RestoreJournal& journal, const wchar_t* stamp, size_t* cursor,
                      JournalPlace* place);

// Appends "word stamp" and flushes it to the disk.
DWORD AppendJournal(RestoreJournal* journal, const wchar_t* word, const wchar_t* stamp);

// Appends "restore stamp" and a "have" line for each chosen hive, from its
// `present` and its destination below root, in one write, flushed.
DWORD AppendRestore(RestoreJournal* journal, const wchar_t* stamp, const HiveTable& hives,
                    const wchar_t* root);
