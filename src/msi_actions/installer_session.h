#pragma once
#include <windows.h>

#include <msi.h>
#include <msiquery.h>

// What a property of the running install holds, in a buffer of `capacity`
// characters; an unset property reads as empty. False when the value does
// not fit or cannot be read.
bool ReadProperty(MSIHANDLE install, const wchar_t* name, wchar_t* value, size_t capacity);

// `text` formatted as the installer formats the text of its tables: each
// [Property], [#FileKey], [%Variable] and the like replaced by what it names.
// False when the result does not fit.
bool FormatText(MSIHANDLE install, const wchar_t* text, wchar_t* formatted, size_t capacity);

// Hands one message to the installer, taken as it is, never formatted:
// INSTALLMESSAGE_INFO goes to the log; INSTALLMESSAGE_ERROR to the log, to
// the Application event log and, when the install shows a user interface,
// to the user.
void SendInstallMessage(MSIHANDLE install, INSTALLMESSAGE kind, const wchar_t* text);
