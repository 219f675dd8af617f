#include "revert/show_backup.h"

#include "revert/boot_store.h"
#include "revert/restore_plan.h"
#include "revert/run_state.h"
#include "shared/console.h"

int ShowBackup(const wchar_t* root) {
    wchar_t check[CheckWordsCapacity];
    wchar_t line[CheckWordsCapacity + 2 * JoinedPathCapacity];
    bool whole = true;
    wchar_t bootStore[JoinedPathCapacity];
    if (FindBootStore(bootStore)) {
        bool dirty = false;
        whole = DescribeCheck(bootStore, check, &dirty) && whole;
        FormatText(line, ARRAYSIZE(line), L"BCD: %s; not replaced: bcdedit /import \"%s\"", check,
                   bootStore);
        PrintLine(line);
    }
    whole = PlanHives(&HiveList, root, PlanUse::Show) && whole;
    return whole ? ExitDone : ExitFailed;
}
