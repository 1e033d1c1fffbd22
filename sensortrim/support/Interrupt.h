// A signal that asks the run to end. The handler only notes it (an atomic
// store and a byte to a pipe, both safe in a handler); the run stops at its
// next safe point, where check() throws InterruptedRun.
#pragma once

namespace interrupt {

// From the signal handler: the signal's number.
void note(int signum);
// The signal that asked the run to end, 0 for none.
int requested();
// A safe point: throws InterruptedRun when a signal asked the run to end.
void check();
// Forgets a request (tests).
void reset();

}  // namespace interrupt
