#include "board/DatabaseWorkers.h"

namespace board {

DatabaseWorkers::DatabaseWorkers(std::vector<std::unique_ptr<BoardData>> connections, size_t longestQueue)
    : m_connections(std::move(connections)), m_longestQueue(longestQueue)
{
    for (auto &c : m_connections)
        m_threads.emplace_back([this, data = c.get()] { run(*data); });
}

DatabaseWorkers::~DatabaseWorkers()
{
    {
        std::lock_guard<std::mutex> g(m_lock);
        m_stop = true;
        // Jobs not begun are dropped: whoever waits on them is answered by the server's stop.
        m_jobs.clear();
    }
    m_wake.notify_all();
    for (std::thread &t : m_threads)
        t.join();
}

bool DatabaseWorkers::post(Job job)
{
    {
        std::lock_guard<std::mutex> g(m_lock);
        if (m_stop || m_jobs.size() >= m_longestQueue)
            return false;
        m_jobs.push_back(std::move(job));
    }
    m_wake.notify_one();
    return true;
}

void DatabaseWorkers::run(BoardData &data)
{
    for (;;) {
        Job job;
        {
            std::unique_lock<std::mutex> g(m_lock);
            m_wake.wait(g, [this] { return m_stop || !m_jobs.empty(); });
            if (m_stop)
                return;
            job = std::move(m_jobs.front());
            m_jobs.pop_front();
        }
        job(data);
    }
}

} // namespace board
