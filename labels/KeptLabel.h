#pragma once

#include "labels/Label.h"

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <optional>

// A label on its way to the printer as the program folder's labels/ keeps it: one
// file a label, "<key>.label", its job and why it failed (if it did) beside it.
namespace labels {

struct Kept
{
    QString path; // "" while it is only in memory
    QString title;
    qint64 added = 0;
    Label label;
    int job = 0;    // the print system's job, once handed over
    QString failed; // why its job failed: it waits for F9
    bool memory = false; // not on disk (yet): path is where it belongs
};

namespace keptlabel {

// One label with its packs: far below.
constexpr int64_t kLimit = 16 << 20;

QByteArray bytesOf(const Kept &k);
// A kept file back (from path); nothing when it is not a label this program kept.
std::optional<Kept> fromBytes(const QString &path, const QByteArray &bytes);

} // namespace keptlabel

} // namespace labels
