#pragma once
#include <windows.h>

// What a run's exit status tells a person or a script; the same for zel,
// revert and tidy.
constexpr int ExitDone = 0;     // everything asked was done
constexpr int ExitRefused = 1;  // the command line was refused; nothing was done
constexpr int ExitFailed = 2;   // the action failed in whole or in part

// How the reading of a command line ended.
enum class CommandLineOutcome {
    Run,      // options read: go on
    Help,     // "/?": the usage was printed
    Refused,  // an argument was refused with a report and the usage
};

// Ends the reading of a command line on `argument`: a report of code, then
// the program's usage.
CommandLineOutcome RefuseArgument(DWORD code, const wchar_t* argument, void (*printUsage)());

// The exit status of a run that ends with its command line; -1 for Run.
inline int ExitStatusOf(CommandLineOutcome outcome) {
    if (outcome == CommandLineOutcome::Run) return -1;
    return outcome == CommandLineOutcome::Help ? ExitDone : ExitRefused;
}
