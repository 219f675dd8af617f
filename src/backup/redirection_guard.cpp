#include "backup/redirection_guard.h"

#include "shared/platform.h"
#include "state/run_state.h"

int RedirectionNesting = 1;

RedirectionGuard::RedirectionGuard() {
    if (!Platform.wow64DisableRedirection) return;
    if (--RedirectionNesting == 0 && !Platform.wow64DisableRedirection(&saved_)) {
        ++RedirectionNesting;
    }
}

RedirectionGuard::~RedirectionGuard() {
    if (!Platform.wow64RevertRedirection) return;
    if (++RedirectionNesting == 1 && !Platform.wow64RevertRedirection(saved_)) {
        --RedirectionNesting;
    }
}
