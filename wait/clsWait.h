#pragma once

#include "platform/EventPump.h"

#include <cstdint>
#include <memory>

// Delays its caller while the user interface keeps handling events. Not
// re-entrant: nothing run during a wait may wait on the same waiter.
class clsWait
{
public:
    static const char *const kErrorPrefix;

    explicit clsWait(TimerFactory timers = createOneShotTimer);
    ~clsWait(); // releases a timer that a failed wait still holds

    // Raises the failure of any step with kErrorPrefix before its description.
    void Wait(int32_t MilliSeconds);

    // Whether a timer is still held (a wait in progress, or one that failed).
    bool holdsTimer() const { return bool(hTimer); }

    // The relative due time of a delay, in 100 ns units.
    static int64_t dueTime(int32_t milliSeconds);

private:
    TimerFactory m_timers;
    std::unique_ptr<OneShotTimer> hTimer;
};
