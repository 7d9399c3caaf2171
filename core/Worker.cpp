#include "core/Worker.h"

void Worker::start(std::function<void()> body)
{
    m_thread = std::thread(std::move(body));
}

void Worker::stop(const std::function<void()> &interrupt)
{
    {
        const std::lock_guard<std::mutex> hold(m_lock);
        m_stop = true;
    }
    m_wake.notify_all();
    if (interrupt)
        interrupt();
    if (m_thread.joinable())
        m_thread.join();
}
