#pragma once

#include "core/Worker.h"

#include "board/BoardData.h"

#include <QByteArray>
#include <QString>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

// The page's data, read from the record on a thread of its own and shared by every
// viewer: at most one read every few seconds, and none while nobody watches. A read
// that fails keeps the last data, marked with when it was read and why it is old;
// the next read tries again on a fresh connection.
namespace board {

struct Freshness
{
    bool fresh = false;  // the last read succeeded
    qint64 asOf = 0;     // when the data shown was read, seconds since the epoch; 0: never
    QString problem;     // why it is not fresh, in plain Chinese for the page
};

// The page's data as it is sent, made once per read.
using PageData = std::shared_ptr<const QByteArray>;

class SharedSnapshot
{
public:
    using Compose = std::function<QByteArray(const Snapshot *last, const Freshness &)>;
    using Ready = std::function<void(PageData)>;

    SharedSnapshot(std::unique_ptr<BoardData> data, Compose compose,
                   std::chrono::milliseconds period = std::chrono::milliseconds(2500));
    ~SharedSnapshot();

    // Someone watches: the data as last read, to whenReady now, or once the first
    // read ends (from the reading thread).
    void watch(Ready whenReady);

    // The plain reason the page gives for a failed read; the whole failure goes to the log.
    static QString reasonFor(int errorNumber);

private:
    void run();
    void readOnce();

    std::unique_ptr<BoardData> m_data;
    Compose m_compose;
    std::chrono::milliseconds m_period;

    std::chrono::steady_clock::time_point m_lastWatched;
    std::chrono::steady_clock::time_point m_nextRead;
    PageData m_page;
    std::vector<Ready> m_waiting;

    // Only the reading thread touches these.
    std::unique_ptr<Snapshot> m_last;
    qint64 m_lastAt = 0;
    QString m_lastLogged;

    // The reading thread; its lock guards what watch() and the thread share.
    Worker m_worker;
};

} // namespace board
