// A call that may block longer than its caller can wait, awaited within a bound: the system's
// name lookup, whose own time-outs (several per name server, tried in turn) no argument
// shortens. Portable: the same on every system.
#pragma once

#include <functional>

namespace serial::rfc2217 {

// Runs `call` on a thread of its own and waits up to timeoutMs for it to return. True when
// it returned in time: what it wrote is then seen by the caller. False when it did not (or
// no thread could be started): the thread is left to end on its own, so `call` must hold
// shares of everything it touches, never references to the caller's locals.
bool callWithin(std::function<void()> call, int timeoutMs);

}  // namespace serial::rfc2217
