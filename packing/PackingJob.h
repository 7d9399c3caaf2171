#pragma once

#include <QString>
#include <cstdint>

struct PackingState;

// What an outer box is packed by: the sizes, the label texts and the digit counts
// that the setup window gives. A box keeps the job it was started with, so that a
// box taken up again after a restart goes on with its own labels.
struct PackingJob
{
    int16_t perMiddle = 0;
    int16_t perOuter = 0;
    int16_t middleDigits = 0;
    int16_t outerDigits = 0;
    QString middlePrefix;
    QString middleSuffix;
    QString outerPrefix;
    QString outerSuffix;

    static PackingJob of(const PackingState &state);
    void applyTo(PackingState &state) const;

    bool operator==(const PackingJob &other) const = default;
};
