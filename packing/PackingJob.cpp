#include "packing/PackingJob.h"

#include "packing/PackingState.h"

PackingJob PackingJob::of(const PackingState &state)
{
    PackingJob job;
    job.perMiddle = state.iPerMiddle;
    job.perOuter = state.iPerOuter;
    job.middleDigits = state.iMiddleDigits;
    job.outerDigits = state.iOuterDigits;
    job.middlePrefix = state.sMiddlePrefix;
    job.middleSuffix = state.sMiddleSuffix;
    job.outerPrefix = state.sOuterPrefix;
    job.outerSuffix = state.sOuterSuffix;
    return job;
}

void PackingJob::applyTo(PackingState &state) const
{
    state.iPerMiddle = perMiddle;
    state.iPerOuter = perOuter;
    state.iMiddleDigits = middleDigits;
    state.iOuterDigits = outerDigits;
    state.sMiddlePrefix = middlePrefix;
    state.sMiddleSuffix = middleSuffix;
    state.sOuterPrefix = outerPrefix;
    state.sOuterSuffix = outerSuffix;
    state.buildLabels();
}
