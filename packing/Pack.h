#pragma once

#include <QHash>
#include <QString>

// What one scan put in a box. Its text is what the list shows and what the workbook,
// the journal, the outbox and the plant record keep; its identity is what makes two
// scans the same pack, the key of every duplicate check (the box's, the day's, the
// plant's). A pack is known by its text alone until scans say more about themselves.
class Pack
{
public:
    Pack() = default;
    explicit Pack(QString text) : m_text(std::move(text)) {}

    const QString &text() const { return m_text; }
    const QString &identity() const { return m_text; }
    bool isEmpty() const { return m_text.isEmpty(); }

    bool operator==(const Pack &o) const { return identity() == o.identity(); }

private:
    QString m_text;
};

inline size_t qHash(const Pack &pack, size_t seed = 0)
{
    return qHash(pack.identity(), seed);
}
