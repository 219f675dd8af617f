#pragma once

// What a run's exit status tells a person or a script.
constexpr int ExitDone = 0;     // everything asked was done
constexpr int ExitRefused = 1;  // the command line was refused; nothing was done
constexpr int ExitFailed = 2;   // the action failed in whole or in part
