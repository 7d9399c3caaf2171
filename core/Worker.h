#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

// A thread of its owner's: started and stopped by it, and always joined, so that
// nothing the thread uses outlives it. The body runs until stopping() says so and
// waits through wait() and waitUntil(), which stop() ends at once and wake() makes
// look at their condition again. A body
// that blocks elsewhere (on a server) is freed by the interrupt its owner gives stop().
// The worker's lock is the one the owner guards what it shares with the body by.
class Worker
{
public:
    Worker() = default;
    Worker(const Worker &) = delete;
    Worker &operator=(const Worker &) = delete;
    ~Worker() { stop(); }

    void start(std::function<void()> body);
    // Asks the body to end, runs the interrupt, and waits for the thread to end.
    void stop(const std::function<void()> &interrupt = {});

    std::mutex &lock() { return m_lock; }
    // Under lock().
    bool stopping() const { return m_stop; }
    // Under lock() or not: the body's wait looks at its condition again.
    void wake() { m_wake.notify_all(); }

    // Under lock(), held by `held`: until `until` holds or stop() was called.
    template <typename Until>
    void wait(std::unique_lock<std::mutex> &held, Until until)
    {
        m_wake.wait(held, [&] { return m_stop || until(); });
    }
    // The same, at most until `time`.
    template <typename Time, typename Until>
    void waitUntil(std::unique_lock<std::mutex> &held, const Time &time, Until until)
    {
        m_wake.wait_until(held, time, [&] { return m_stop || until(); });
    }

private:
    std::mutex m_lock;
    std::condition_variable m_wake;
    bool m_stop = false;
    std::thread m_thread;
};
