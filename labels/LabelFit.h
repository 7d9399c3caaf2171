#pragma once

#include "settings/StationSettings.h"

#include <QString>

struct PackingState;

// Whether a job's labels fit the station's labels at all, judged at Start on the
// largest labels the job can give: a full outer box with every middle label (and,
// with GS1 packs, the longest lot), and a full middle box of the longest packs.
namespace labels {

// Why not, as the label's drawing says ("" when they fit).
QString misfit(const PackingState &job, const settings::PrintSettings &print, const QString &station);

} // namespace labels
