// A guard against the bus error a mapped file raises when it shrinks while it is read: another
// program truncating a stream that is being decoded must end that run with a message, not the
// whole process.
#pragma once

#include <functional>

namespace tessaro {

// Runs `read` on the calling thread. Returns false when a bus error (SIGBUS) struck during it; the
// rest of `read` is then abandoned, so it must hold no resources of its own that need releasing
// (objects it works on stay as they were at the fault and should only be destroyed). Bus errors on
// other threads, or outside such a call, keep their usual effect.
bool RunGuardedAgainstBusError(const std::function<void()>& read);

}  // namespace tessaro
