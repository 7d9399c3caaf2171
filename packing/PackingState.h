#pragma once

#include "packing/Batch.h"
#include "packing/PackingJob.h"

#include <optional>

#include <QString>
#include <cstdint>

// Zero-padded text of a running number: widths 1 to 10 pad to that many digits,
// any other width to eleven; a wider number is written in full; a negative one as
// "-" followed by its padded magnitude.
QString paddedNumber(int32_t number, int16_t width);

// The values that describe the packing job: the job a box is packed by, and the
// run's scan length, running numbers and label kind. One instance lives for the
// whole run (packingState()); tests make their own.
struct PackingState : PackingJob
{
    int16_t iInnerLen = 0;
    int32_t lMiddleNo = 0;
    int32_t lOuterNo = 0;
    QString sMiddleNo;
    QString sOuterNo;
    // Outer labels are SSCCs: the outer prefix, the number padded to 17 digits, the check digit.
    bool bSscc = false;
    // The batch Start took, as the record last told of it; none without batches. Its
    // number is the job's sBatch.
    std::optional<Batch> batch;

    const PackingJob &job() const { return *this; }
    // Packs by this job from now on; the labels follow it.
    void takeJob(const PackingJob &job);

    // Refreshes sMiddleNo and sOuterNo from the running numbers and widths.
    void buildLabels();
    QString middleLabel() const { return sMiddlePrefix + sMiddleNo + sMiddleSuffix; }
    QString outerLabel() const { return bSscc ? outerLabelFor(lOuterNo) : sOuterPrefix + sOuterNo + sOuterSuffix; }
    // The labels that these running numbers give, with this job's texts and widths.
    QString middleLabelFor(int32_t number) const { return sMiddlePrefix + paddedNumber(number, iMiddleDigits) + sMiddleSuffix; }
    QString outerLabelFor(int32_t number) const;
    // Why these fields cannot make SSCCs ("" when they can, or when bSscc is off), naming the field.
    QString ssccProblem(int32_t number) const;

    // Add exactly one; at 2147483647 they raise an overflow and leave the number as it was.
    void advanceMiddle();
    void advanceOuter();
};

PackingState &packingState();
