#pragma once

#include "station/BoxJournal.h"

#include <QString>
#include <cstdint>
#include <optional>

class BoxExport;
class MessageBox;
class PlantHandoff;

// What Start asks and refuses so that an open box is never broken, lost or
// numbered twice. Each step runs before Start copies or saves anything.
namespace startchecks {

// The running numbers never go past this.
constexpr int32_t kLastNumber = 2147483647;

// Why Start must not go on while the open box holds packs; "" when it may.
QString openBoxRefusal(int16_t packsInBox, bool exportPending, int16_t perOuter, int32_t middleNo, int32_t outerNo);

// The box the last run left in the journal, offered back. A box that is found in
// its workbook already is not offered: it counts as written, and goes to the plant
// record when there is one (plant, else nullptr). The result says whether
// Start goes on, and with which box (nothing: an empty one).
struct KeptBox
{
    bool goOn = true;
    std::optional<BoxJournal::Saved> box;
};
KeptBox offerKeptBox(const QString &programFolder, int16_t perOuter, BoxExport &boxExport, PlantHandoff *plant,
                     MessageBox &messages);

// False when the outer label was used today already, or is the label of the box
// still open, and the operator keeps the default answer, not to start with it.
bool confirmOuterLabel(const QString &programFolder, const QString &label, const QString &openBoxLabel,
                       MessageBox &messages);

} // namespace startchecks
