// hive_writer MIB PATH CHANGES CHANGED_PATH
//
// Writes a regf hive of realistic shape (bench/realistic_hive.h) whose hive
// bins data reaches MIB MiB to PATH, and the same hive with CHANGES changes
// to CHANGED_PATH, for the export and comparison figures. Prints
//   keys K values V
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

#include "realistic_hive.h"

int wmain(int argc, wchar_t** argv) {
    if (argc != 5) {
        fprintf(stderr, "usage: hive_writer MIB PATH CHANGES CHANGED_PATH\n");
        return 2;
    }
    RealisticHive hive;
    if (!WriteRealisticHive(argv[2], _wtoi(argv[1]), 0, &hive) ||
        !WriteChangedHive(argv[4], wcstoul(argv[3], nullptr, 10))) {
        fprintf(stderr, "hive_writer: cannot write the hives (error %lu)\n", GetLastError());
        return 1;
    }
    printf("keys %lu values %lu\n", hive.keys, hive.values);
    return 0;
}
