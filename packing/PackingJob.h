#pragma once

#include <QString>
#include <cstdint>

// What an outer box is packed by: the sizes, the label texts and the digit counts
// that the setup window gives. A box keeps the job it was started with, so that a
// box taken up again after a restart goes on with its own labels. The packing
// state is a job with the run's numbers added (PackingState::job, takeJob).
struct PackingJob
{
    int16_t iPerMiddle = 0;
    int16_t iPerOuter = 0;
    int16_t iMiddleDigits = 0;
    int16_t iOuterDigits = 0;
    QString sMiddlePrefix;
    QString sMiddleSuffix;
    QString sOuterPrefix;
    QString sOuterSuffix;
    QString sBatch; // the batch the box is packed for; "" for none

    bool operator==(const PackingJob &other) const = default;
};
