#pragma once

#include "core/Gs1Scan.h"

#include <QHash>
#include <QString>
#include <vector>

// What one scan put in a box. Its text is what the list shows and what the workbook
// keeps; its identity is what makes two scans the same pack, the key of every
// duplicate check (the box's, the day's, the plant's). A pack is known by its text,
// unless it is a GS1 pack: then its text is its human-readable form and it is known
// by its GTIN (01) and serial (21), however the scan spelled them. The journal, the
// outbox and the plant record keep a GS1 pack's fields beside its text.
class Pack
{
public:
    Pack() = default;
    explicit Pack(QString text) : m_text(std::move(text)) {}
    // A GS1 pack as its fields were scanned, in that order; its text is their
    // human-readable form (bracketed where data holds "(NN)", see gs1::cellForm)
    // unless given (a workbook's cell as it stands).
    explicit Pack(std::vector<gs1::Element> fields, QString text = {});

    const QString &text() const { return m_text; }
    const QString &identity() const { return m_identity.isEmpty() ? m_text : m_identity; }
    bool isEmpty() const { return m_text.isEmpty(); }
    bool isGs1() const { return !m_fields.empty(); }
    const std::vector<gs1::Element> &fields() const { return m_fields; }
    std::optional<QString> value(const QString &ai) const;

    bool operator==(const Pack &o) const { return identity() == o.identity(); }

private:
    QString m_text;
    QString m_identity; // "" : the text
    std::vector<gs1::Element> m_fields;
};

inline size_t qHash(const Pack &pack, size_t seed = 0)
{
    return qHash(pack.identity(), seed);
}
