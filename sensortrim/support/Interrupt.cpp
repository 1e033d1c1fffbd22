#include "Interrupt.h"

#include <atomic>

#include "Exceptions.h"

namespace interrupt {

namespace {

// Lock-free, so a store from a signal handler is safe.
std::atomic<int> pending{0};
static_assert(std::atomic<int>::is_always_lock_free, "a signal handler stores the signal number");

}  // namespace

void note(int signum) {
    int none = 0;
    pending.compare_exchange_strong(none, signum);
}

int requested() {
    return pending.load();
}

void check() {
    if (const int signum = pending.load())
        throw InterruptedRun(signum);
}

void reset() {
    pending.store(0);
}

}  // namespace interrupt
