#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>

// A batch (work order) that planning released for a line: one product, lot and expiry
// (each optional: plants without GS1 packs have batches too), a planned number of packs
// and, where it has them, its box sizes. The plant record holds batches; a station takes
// one at Start and every box it writes names it.
struct Batch
{
    enum class State { Released, Running, Held, Ended, Aborted };

    QString number; // the plant's own, unique
    QString line;
    QString gtin;   // (01); "" for none
    QString lot;    // (10); "" for none
    QString expiry; // (17) YYMMDD; "" for none
    QString made;   // (11) YYMMDD; "" for none
    int32_t planned = 0;  // packs
    int16_t perMiddle = 0; // 0: the batch sets no box sizes
    int16_t perOuter = 0;
    State state = State::Released;
    int64_t packed = 0; // packs in its boxes now, as the record last said

    bool operator==(const Batch &o) const = default;

    // Scans go into it: released, running (a held batch waits, an ended one is done).
    bool takesPacks() const { return state == State::Released || state == State::Running; }
    bool hasSizes() const { return perMiddle > 0 && perOuter > 0; }
};

namespace batchstate {

// "released", "running", "held", "ended", "aborted" (as the record stores them), and back.
QString word(Batch::State state);
std::optional<Batch::State> named(const QString &word);
// 已下达 / 生产中 / 已暂停 / 已结束 / 已中止
QString shown(Batch::State state);

} // namespace batchstate
