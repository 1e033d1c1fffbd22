// The collector's stop flag: cleared at start, set by the Ctrl-C handler, read
// by the collection loop and by the transport's read wait. Lock-free, so the
// signal handler may set it.
#pragma once

#include <atomic>

class StopSign {
public:
    static StopSign& Inst();

    void clear() { stop.store(false); }
    void set() { stop.store(true); }
    bool isSet() const { return stop.load(); }
    // For the transport's asynchronous read.
    const std::atomic<bool>* flag() const { return &stop; }

private:
    std::atomic<bool> stop{false};
    static_assert(std::atomic<bool>::is_always_lock_free, "the stop flag must be safe to set from a signal handler");
};

// Installs the SIGINT handler: it says the collector is stopping and sets the flag.
void installStopHandler();
