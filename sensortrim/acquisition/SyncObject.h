// A one-shot signal between two threads: the recorder's worker signals that it
// has ended, the thread stopping it waits for that.
#pragma once

#include <condition_variable>
#include <mutex>

class SyncObject {
public:
    virtual ~SyncObject() = default;
    virtual void WaitForSignal() = 0;
    virtual void Reset() = 0;
    virtual void Signal() = 0;
};

class SyncObjectLinux : public SyncObject {
public:
    // Waits until signalled, then takes the signal.
    void WaitForSignal() override {
        std::unique_lock<std::mutex> lock(mutex);
        condition.wait(lock, [this] { return signalled; });
        signalled = false;
    }
    // Takes and releases the lock; the signal stays as it is.
    void Reset() override { std::lock_guard<std::mutex> lock(mutex); }
    void Signal() override {
        std::lock_guard<std::mutex> lock(mutex);
        signalled = true;
        condition.notify_one();
    }

private:
    std::mutex mutex;
    std::condition_variable condition;
    bool signalled = false;
};
