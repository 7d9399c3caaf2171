#pragma once

#include "packing/Pack.h"

#include <QString>
#include <cstdint>
#include <optional>

// Whether a barcode is already in a box somewhere beyond this station (the plant
// record, when there is one). The question is answered on a thread of its own; the
// station waits for the answer as long as it can afford and goes on without it: an
// answer that comes late is dropped, so nothing is decided twice.
class DuplicateQuestion
{
public:
    struct Where
    {
        QString station;
        QString outerLabel;
        QString writtenAt; // as the record tells it
    };
    struct Answer
    {
        bool reached = false;       // the record answered
        std::optional<Where> found; // where the pack already is, if anywhere
    };

    virtual ~DuplicateQuestion() = default;
    // Asks about a pack; the ticket fetches the answer. A question still open is dropped.
    virtual uint64_t ask(const Pack &pack) = 0;
    // The answer to that ticket, once there.
    virtual std::optional<Answer> answer(uint64_t ticket) const = 0;
    // Whether the last question was answered in time (true before any).
    virtual bool answeredInTime() const = 0;
    virtual void noteInTime(bool inTime) = 0;
};
