// The custom actions of zel's Windows Installer package (res/zel.wxs). The
// service is registered by the installed zel.exe /i, so the package and a
// hand installation check the same rules and make the same registration;
// these actions only carry the package's properties to it.
#include <windows.h>

#include <strsafe.h>

#include "msi_actions/captured_run.h"
#include "msi_actions/installer_session.h"
#include "msi_actions/quoted_argument.h"

#define CUSTOM_ACTION extern "C" __declspec(dllexport) UINT __stdcall

namespace {

constexpr size_t TextCapacity = 4096;    // a property's value, a path
constexpr size_t LineCapacity = 32768;   // CreateProcessW's limit
constexpr size_t OutputCapacity = 8192;  // what zel.exe /i prints, and more
constexpr size_t MessageCapacity = OutputCapacity + 512;

UINT Fail(MSIHANDLE install, const wchar_t* text) {
    SendInstallMessage(install, INSTALLMESSAGE_ERROR, text);
    return ERROR_INSTALL_FAILURE;
}

// "/days:" and the value as given; zel.exe judges it.
bool AppendDays(wchar_t* line, size_t capacity, const wchar_t* days) {
    wchar_t option[TextCapacity + 8];
    return SUCCEEDED(StringCchPrintfW(option, ARRAYSIZE(option), L"/days:%ls", days)) &&
           AppendArgument(line, capacity, option);
}

// DAILY: "1" asks for /daily, a time for /daily:HH:MM, which zel.exe judges.
bool AppendDaily(wchar_t* line, size_t capacity, const wchar_t* daily) {
    wchar_t option[TextCapacity + 8];
    const HRESULT formed = wcscmp(daily, L"1") == 0
                               ? StringCchCopyW(option, ARRAYSIZE(option), L"/daily")
                               : StringCchPrintfW(option, ARRAYSIZE(option), L"/daily:%ls", daily);
    return SUCCEEDED(formed) && AppendArgument(line, capacity, option);
}

}  // namespace

// Run at once, before anything is installed. The installer formats a
// property given on its command line only once, so a [ComputerName] inside
// BACKUPROOT is expanded here, and BACKUPROOT then holds the root the
// service gets (which the package records for the next version). The line
//   "<folder>\zel.exe" "/i" "/days:N" "/daily[:HH:MM]" "<root>"
// becomes the data of InstallZelService; an option left unset is left out,
// so that zel.exe applies its own default.
CUSTOM_ACTION PrepareZelService(MSIHANDLE install) {
    wchar_t given[TextCapacity], root[TextCapacity], days[TextCapacity], daily[TextCapacity],
        program[TextCapacity];
    if (!ReadProperty(install, L"BACKUPROOT", given, ARRAYSIZE(given)) ||
        !FormatText(install, given, root, ARRAYSIZE(root))) {
        return Fail(install, L"BACKUPROOT is too long for zel.");
    }
    if (!ReadProperty(install, L"DAYS", days, ARRAYSIZE(days))) {
        return Fail(install, L"DAYS is too long for zel.");
    }
    if (!ReadProperty(install, L"DAILY", daily, ARRAYSIZE(daily))) {
        return Fail(install, L"DAILY is too long for zel.");
    }
    if (!FormatText(install, L"[#zel.exe]", program, ARRAYSIZE(program)) || program[0] == L'\0') {
        return Fail(install, L"The folder of zel.exe is too long.");
    }
    if (MsiSetPropertyW(install, L"BACKUPROOT", root) != ERROR_SUCCESS)
        return ERROR_INSTALL_FAILURE;

    wchar_t line[LineCapacity] = L"";
    bool fits = AppendArgument(line, ARRAYSIZE(line), program) &&
                AppendArgument(line, ARRAYSIZE(line), L"/i");
    if (days[0] != L'\0') fits = fits && AppendDays(line, ARRAYSIZE(line), days);
    if (daily[0] != L'\0') fits = fits && AppendDaily(line, ARRAYSIZE(line), daily);
    if (root[0] != L'\0') fits = fits && AppendArgument(line, ARRAYSIZE(line), root);
    if (!fits) return Fail(install, L"The command line of zel.exe /i is too long.");
    return MsiSetPropertyW(install, L"InstallZelService", line) == ERROR_SUCCESS
               ? ERROR_SUCCESS
               : ERROR_INSTALL_FAILURE;
}

// Run from the install script as LocalSystem, after the files are in place.
// zel.exe's exit status decides; when it refused or failed, the install
// fails with zel's own lines and the installer rolls back what it did.
CUSTOM_ACTION InstallZelService(MSIHANDLE install) {
    wchar_t line[LineCapacity];
    if (!ReadProperty(install, L"CustomActionData", line, ARRAYSIZE(line)) || line[0] == L'\0') {
        return Fail(install, L"The command line of zel.exe /i is missing.");
    }
    wchar_t output[OutputCapacity], message[MessageCapacity];
    DWORD exitStatus = 0;
    const DWORD error = RunCaptured(line, output, ARRAYSIZE(output), &exitStatus);
    if (error != ERROR_SUCCESS) {
        StringCchPrintfW(message, ARRAYSIZE(message), L"zel.exe could not be started (error %lu).",
                         error);
        return Fail(install, message);
    }
    if (exitStatus == 0) {
        SendInstallMessage(install, INSTALLMESSAGE_INFO, output);
        return ERROR_SUCCESS;
    }
    StringCchPrintfW(message, ARRAYSIZE(message),
                     exitStatus == 1 ? L"zel.exe /i refused BACKUPROOT, DAYS or DAILY:\r\n%ls"
                                     : L"zel.exe /i could not install the service:\r\n%ls",
                     output);
    return Fail(install, message);
}
