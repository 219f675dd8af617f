#pragma once

// Registers the service "zel" with the command line of this run's options.
int InstallService();

// Marks the service "zel" for deletion.
int UninstallService();
