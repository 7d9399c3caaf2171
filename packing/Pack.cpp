#include "packing/Pack.h"

#include "core/Gs1Ais.h"

Pack::Pack(std::vector<gs1::Element> fields, QString text) : m_text(std::move(text)), m_fields(std::move(fields))
{
    if (m_text.isEmpty())
        m_text = gs1::cellForm(m_fields);
    const std::optional<QString> gtin = value(gs1::ai::kGtin), serial = value(gs1::ai::kSerial);
    // A serial is unique only within its GTIN; the separator is no character of either.
    // Without both (a pack that was never accepted as one) the text is all it is.
    if (gtin && serial)
        m_identity = *gtin + QLatin1Char('\n') + *serial;
}

std::optional<QString> Pack::value(const QString &ai) const
{
    for (const gs1::Element &e : m_fields)
        if (e.ai == ai)
            return e.data;
    return std::nullopt;
}
