#pragma once
#include <windows.h>

// 1: no guard has switched redirection off; 0: the outermost guard has;
// each nested guard takes it one lower.
extern int RedirectionNesting;

// Switches WOW64 file-system redirection off for its lifetime. Only the
// outermost guard calls the platform; nested ones only move the counter.
// Entered and left on one thread, strictly nested.
class RedirectionGuard {
 public:
    RedirectionGuard();
    ~RedirectionGuard();
    RedirectionGuard(const RedirectionGuard&) = delete;
    RedirectionGuard& operator=(const RedirectionGuard&) = delete;

 private:
    PVOID saved_ = nullptr;
};
