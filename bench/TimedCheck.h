#pragma once

#include "plant/PlantCheck.h"

#include <QElapsedTimer>
#include <chrono>
#include <thread>
#include <utility>

// One question to the plant-wide check, as a station asks it: its answer and the
// milliseconds it took. Polled gently: a spinning poller takes a core from the
// check's own thread and the server on a two-core machine (6 ms at p99 for nothing).
inline std::pair<PlantCheck::Answer, double> timedCheck(PlantCheck &check, const Pack &pack)
{
    QElapsedTimer asked;
    asked.start();
    const uint64_t ticket = check.ask(pack);
    std::optional<PlantCheck::Answer> answer;
    while (!(answer = check.answer(ticket)))
        std::this_thread::sleep_for(std::chrono::microseconds(20));
    return {*answer, double(asked.nsecsElapsed()) / 1e6};
}

inline std::pair<PlantCheck::Answer, double> timedCheck(PlantCheck &check, const QString &barcode)
{
    return timedCheck(check, Pack(barcode));
}
