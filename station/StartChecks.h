#pragma once

#include "station/BoxJournal.h"

#include <QString>
#include <cstdint>
#include <optional>

class Box;
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

// Everything Start checks and asks, in order, before it copies or saves anything:
// with a box open (openBox), that the new size and numbers can finish it; without,
// the box the last run left; unless that box is taken up, whether the next outer
// label was used. goOn false: Start stops here, told why.
struct StartRequest
{
    const Box *openBox = nullptr; // the scan window's box, when the window is open
    int16_t perOuter = 0;
    int32_t middleNo = 0;
    int32_t outerNo = 0;
    QString nextOuterLabel;
    bool sscc = false; // outer labels are SSCCs: one used anywhere is refused, never asked
};
KeptBox beforeStart(const QString &programFolder, const StartRequest &request, BoxExport &boxExport, PlantHandoff *plant,
                    MessageBox &messages);

// False when the outer label was used today already, or is the label of the box
// still open, and the operator keeps the default answer, not to start with it.
bool confirmOuterLabel(const QString &programFolder, const QString &label, const QString &openBoxLabel,
                       MessageBox &messages);

// Where an SSCC was used already: the box still open, a workbook of any day in
// files/, or the plant record (plant, when there is one); "" when it is new.
QString ssccUse(const QString &programFolder, const QString &sscc, const QString &openBoxLabel, PlantHandoff *plant);

} // namespace startchecks
