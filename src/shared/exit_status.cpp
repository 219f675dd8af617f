#include "shared/exit_status.h"

#include "shared/console.h"

CommandLineOutcome RefuseArgument(DWORD code, const wchar_t* argument, void (*printUsage)()) {
    // An empty argument still needs something to point at.
    PrintError(code, argument[0] != L'\0' ? argument : L"\"\"");
    printUsage();
    return CommandLineOutcome::Refused;
}
