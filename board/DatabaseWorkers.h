#pragma once

#include "board/BoardData.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

// Lookups and decisions, each on a worker thread with a connection of its own, so
// that a slow or hung record holds a worker and never the thread that serves the
// page. The queue is bounded: what does not fit is refused at once.
namespace board {

class DatabaseWorkers
{
public:
    using Job = std::function<void(BoardData &)>;

    DatabaseWorkers(std::vector<std::unique_ptr<BoardData>> connections, size_t longestQueue = 32);
    ~DatabaseWorkers();

    // false when the queue is full; the job then never runs.
    bool post(Job job);

private:
    void run(BoardData &data);

    std::vector<std::unique_ptr<BoardData>> m_connections;
    size_t m_longestQueue;
    std::mutex m_lock;
    std::condition_variable m_wake;
    std::deque<Job> m_jobs;
    bool m_stop = false;
    std::vector<std::thread> m_threads;
};

} // namespace board
