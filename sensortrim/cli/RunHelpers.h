// What the parts of a run share: interrupts held back around the recorder's
// start and stop, and the inertial view of a sensor.
#pragma once

#include <pthread.h>
#include <signal.h>

#include <memory>

#include "InertialSensor.h"
#include "Sensor.h"

// The signals that end a run (SIGINT, SIGTERM, SIGHUP) held back for the
// calling thread while the object lives: the run then ends after it.
class InterruptsHeld {
public:
    InterruptsHeld() {
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SIGINT);
        sigaddset(&set, SIGTERM);
        sigaddset(&set, SIGHUP);
        pthread_sigmask(SIG_BLOCK, &set, &previous);
    }
    ~InterruptsHeld() { pthread_sigmask(SIG_SETMASK, &previous, nullptr); }
    InterruptsHeld(const InterruptsHeld&) = delete;
    InterruptsHeld& operator=(const InterruptsHeld&) = delete;

private:
    sigset_t previous;
};

inline std::shared_ptr<InertialSensor> inertial(const std::shared_ptr<Sensor>& sensor) {
    return std::dynamic_pointer_cast<InertialSensor>(sensor);
}
