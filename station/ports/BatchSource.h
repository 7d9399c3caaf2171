#pragma once

#include "packing/Batch.h"

#include <QString>
#include <optional>
#include <vector>

// The plant's batches as a station that packs batches sees them: what Start may take,
// and the taken batch as the record tells of it while the station packs.
class BatchSource
{
public:
    virtual ~BatchSource() = default;

    struct Offer
    {
        bool reached = false; // false: the record could not be asked (why says why)
        QString why;
        std::vector<Batch> batches; // the line's released, running and held ones, and the one named also
        QString lastPacked;         // the batch the record has this station packing last; "" for none
    };
    // Asked at Start, waiting for the record with the windows painted. also: a batch
    // to list whatever its state (that of the box still open); "" for none.
    virtual Offer startable(const QString &line, const QString &also) = 0;

    // Start took this batch: from now on the record is asked how it stands.
    virtual void follow(const Batch &batch) = 0;
    // The batch followed, as the record last told of it (its state, its packs with
    // those of boxes still on their way); nothing before it has, or without a batch.
    virtual std::optional<Batch> followed() const = 0;
};
