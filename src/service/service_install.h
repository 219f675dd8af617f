#pragma once

// Makes the backup root and registers the service "zel" with the command
// line of this run's options, and its event log source. Returns the exit
// status: ExitRefused when the options cannot be carried in a command line
// (the root is not made then), ExitFailed when a step failed.
int InstallService();

// Marks the service "zel" for deletion and removes its event log source.
int UninstallService();
