#pragma once
#include "shared/platform.h"

// Puts a stand-in into an entry of the platform table for as long as it
// lives, and then the entry it found there.
template <class Fn>
class SwapCall {
 public:
    template <class StandIn>
    SwapCall(Fn& entry, StandIn standIn) : entry_(entry), found_(entry) {
        entry_ = standIn;
    }
    ~SwapCall() { entry_ = found_; }
    SwapCall(const SwapCall&) = delete;
    SwapCall& operator=(const SwapCall&) = delete;

 private:
    Fn& entry_;
    Fn found_;
};
template <class Fn, class StandIn>
SwapCall(Fn&, StandIn) -> SwapCall<Fn>;
