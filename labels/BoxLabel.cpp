#include "labels/BoxLabel.h"

#include "packing/Gs1Rules.h"

namespace labels {

Label outerLabelOf(const std::vector<BoxRow> &rows, const QString &station, const QDateTime &at, bool sscc)
{
    Label l;
    l.kind = Label::Kind::Outer;
    l.sscc = sscc;
    l.station = station;
    l.written = at;
    for (const BoxRow &r : rows) {
        if (r.kind == BoxRow::OuterLabel && l.text.isEmpty())
            l.text = r.text;
        else if (r.kind == BoxRow::MiddleLabel)
            l.middles << r.text;
        else if (r.kind == BoxRow::Pack)
            ++l.packs;
    }
    if (const std::optional<gs1rules::BoxKind> kind = gs1rules::kindOfBox(rows))
        l.content = Content{kind->gtin, kind->lot.value_or(QString()), kind->expiry.value_or(QString())};
    return l;
}

} // namespace labels
