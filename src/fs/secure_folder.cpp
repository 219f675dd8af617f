#include "fs/secure_folder.h"
BOOL CreateProtectedDirectory(const wchar_t* path) { return CreateDirectoryW(path, nullptr); }
