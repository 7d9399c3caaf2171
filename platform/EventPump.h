#pragma once

#include <cstdint>
#include <functional>
#include <memory>

// Handles every user-interface event that is waiting, and returns.
void handleWaitingEvents();

// A one-shot timer that a wait sleeps on; the sleep also ends when user-interface
// events arrive.
class OneShotTimer
{
public:
    enum Wake { TimerFired = 0, EventsWaiting = 1 };

    virtual ~OneShotTimer() = default;
    // Due time in 100 ns units: negative is relative to now, zero or positive an
    // absolute time that has already passed (it fires at once).
    virtual void arm(int64_t dueTime) = 0;
    // Sleeps until the timer fires or events arrive; raises a RuntimeError when the
    // system reports a failure.
    virtual Wake sleepUntilTimerOrEvents() = 0;
};

// Raises a RuntimeError when the system cannot give a timer.
std::unique_ptr<OneShotTimer> createOneShotTimer();

using TimerFactory = std::function<std::unique_ptr<OneShotTimer>()>;
