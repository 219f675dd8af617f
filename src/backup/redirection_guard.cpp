#include "backup/redirection_guard.h"

#include "state/run_state.h"

int RedirectionNesting = 1;

RedirectionGuard::RedirectionGuard() {
    if (!Wow64DisableRedirectionEntry) return;
    if (--RedirectionNesting == 0 && !Wow64DisableRedirectionEntry(&saved_)) {
        ++RedirectionNesting;
    }
}

RedirectionGuard::~RedirectionGuard() {
    if (!Wow64RevertRedirectionEntry) return;
    if (++RedirectionNesting == 1 && !Wow64RevertRedirectionEntry(saved_)) {
        --RedirectionNesting;
    }
}
