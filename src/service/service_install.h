#pragma once
#include "service/daily_schedule.h"

// Makes the backup root and registers the service "zel" with the command
// line of this run's options (with /daily when the schedule says so), and
// its event log source. Returns the exit
// status: ExitRefused when the options cannot be carried in a command line
// (the root is not made then), ExitFailed when a step failed.
int InstallService(const DailySchedule& daily);

// Marks the service "zel" for deletion, asks it to stop (a daily one would
// otherwise run on), and removes its event log source.
int UninstallService();
