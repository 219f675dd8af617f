#pragma once
// What every test program uses: the harness, child processes, scratch
// folders and files, and the registry helpers.
#include <windows.h>

#include <algorithm>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "support/check.h"
#include "support/child_process.h"
#include "support/platform_swap.h"
#include "support/scratch.h"
#include "version.h"

using Strings = std::vector<std::string>;
using Names = std::vector<std::wstring>;

// Runs its work when it goes, however the test ends.
struct AtEnd {
    std::function<void()> work;
    ~AtEnd() { work(); }
};
