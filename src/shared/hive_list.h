#pragma once
// The running system's list of loaded hives: each value's name is where a
// hive is loaded (\REGISTRY\MACHINE\SYSTEM) and its data the device path of
// the hive's file (\Device\HarddiskVolume2\Windows\System32\config\SYSTEM),
// or nothing for a hive held in memory only.
#include <windows.h>

constexpr wchar_t HiveListKey[] = L"SYSTEM\\CurrentControlSet\\Control\\hivelist";
// Characters of a value name the list is read with, its terminator included.
constexpr DWORD HiveListNameCapacity = 2048;
// A device path: 2048 characters and a terminator.
constexpr DWORD DevicePathCapacity = 2049;

// The entry at index of the open list: its name and, when its data is a
// REG_SZ (*text true), its device path, terminated whether the data carried
// a terminator or not (an empty path otherwise). ERROR_NO_MORE_ITEMS after
// the last; ERROR_MORE_DATA for an entry too long for either buffer.
LSTATUS ReadHiveListEntry(HKEY list, DWORD index, wchar_t (&name)[HiveListNameCapacity],
                          wchar_t (&device)[DevicePathCapacity], bool* text);

// The device path the list gives for the hive loaded at registryPath (a
// value name), as ReadHiveListEntry gives it.
LSTATUS ReadHiveListFile(HKEY list, const wchar_t* registryPath,
                         wchar_t (&device)[DevicePathCapacity], bool* text);

// \Device\HarddiskVolume2\x as the drive path C:\x, by the drive letter
// whose device that is, into a JoinedPathCapacity buffer. ERROR_PATH_NOT_FOUND
// when no drive's device is that one.
DWORD DrivePathOfDevice(const wchar_t* devicePath, wchar_t* file);

// An upper-cased \DEVICE\HARDDISKVOLUME... path becomes \\?\HARDDISKVOLUME...,
// a path that names the volume without a drive letter; any other path stays
// as it is.
void RewriteVolumeDevicePath(wchar_t* path);
