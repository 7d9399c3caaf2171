#pragma once

#include <QByteArray>
#include <QRandomGenerator>

// A person's edit of a file, at random: a few bytes inserted, removed or changed.
inline QByteArray mutated(QByteArray bytes, QRandomGenerator &random, int mostEdits = 8)
{
    for (int m = int(random.bounded(1, mostEdits)); m > 0; --m) {
        const int at = int(random.bounded(bytes.size() + 1));
        switch (random.bounded(3)) {
        case 0:
            bytes.insert(at, char(random.bounded(256)));
            break;
        case 1:
            bytes.remove(at, int(random.bounded(1, 8)));
            break;
        default:
            if (at < bytes.size())
                bytes[at] = char(random.bounded(256));
        }
    }
    return bytes;
}
