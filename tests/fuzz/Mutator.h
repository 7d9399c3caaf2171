#pragma once

#include <QByteArray>
#include <QRandomGenerator>

// Deterministic mutations of a file's bytes, for the fuzz tests: every run with
// the same seed makes the same inputs.
class Mutator
{
public:
    explicit Mutator(quint32 seed) : m_random(seed) {}

    quint32 below(quint32 n) { return n == 0 ? 0 : m_random.bounded(n); }
    bool chance(int percent) { return below(100) < quint32(percent); }
    QRandomGenerator &random() { return m_random; }

    // A value that tends to find off-by-one and overflow faults.
    quint32 interestingValue()
    {
        static const quint32 values[] = {0, 1, 2, 3, 7, 8, 255, 256, 0x7FFF, 0x8000, 0xFFFF, 0x10000,
                                         0x7FFFFFFF, 0x80000000, 0xFFFFFFFE, 0xFFFFFFFF};
        return chance(70) ? values[below(std::size(values))] : m_random.generate();
    }

    void put16(QByteArray &b, qsizetype at, quint32 v)
    {
        if (at + 2 > b.size())
            return;
        b[at] = char(v & 0xFF);
        b[at + 1] = char((v >> 8) & 0xFF);
    }
    void put32(QByteArray &b, qsizetype at, quint32 v)
    {
        if (at + 4 > b.size())
            return;
        for (int i = 0; i < 4; ++i)
            b[at + i] = char((v >> (8 * i)) & 0xFF);
    }

    // One or a few of: bit flips, truncation, inserted or removed bytes, a copied
    // chunk, an interesting 16- or 32-bit value written somewhere.
    QByteArray mutate(QByteArray b)
    {
        const int steps = 1 + int(below(3));
        for (int s = 0; s < steps && !b.isEmpty(); ++s) {
            const qsizetype at = qsizetype(below(quint32(b.size())));
            switch (below(7)) {
            case 0:
                b[at] = char(b[at] ^ (1 << below(8)));
                break;
            case 1:
                b.truncate(at);
                break;
            case 2:
                b.insert(at, QByteArray(qsizetype(1 + below(16)), char(below(256))));
                break;
            case 3:
                b.remove(at, qsizetype(1 + below(16)));
                break;
            case 4: {
                const qsizetype from = qsizetype(below(quint32(b.size())));
                b.insert(at, b.mid(from, qsizetype(1 + below(64))));
                break;
            }
            case 5:
                put16(b, at, interestingValue());
                break;
            default:
                put32(b, at, interestingValue());
                break;
            }
        }
        return b;
    }

private:
    QRandomGenerator m_random;
};
