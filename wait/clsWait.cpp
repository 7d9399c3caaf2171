#include "wait/clsWait.h"

#include "core/RuntimeError.h"

const char *const clsWait::kErrorPrefix = "[clsWaitableTimer.Wait]";

clsWait::clsWait(TimerFactory timers) : m_timers(std::move(timers)) {}

clsWait::~clsWait() = default;

int64_t clsWait::dueTime(int32_t milliSeconds)
{
    return -(int64_t(milliSeconds) * 10000);
}

void clsWait::Wait(int32_t MilliSeconds)
{
    try {
        hTimer = m_timers();
        hTimer->arm(dueTime(MilliSeconds));
        for (;;) {
            const OneShotTimer::Wake wake = hTimer->sleepUntilTimerOrEvents();
            handleWaitingEvents();
            if (wake == OneShotTimer::TimerFired)
                break;
        }
        hTimer.reset();
    } catch (const RuntimeError &e) {
        // The timer stays held until the next wait or the waiter's end releases it.
        throw e.withPrefix(QString::fromLatin1(kErrorPrefix));
    }
}
