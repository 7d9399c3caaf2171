#include "labels/LabelFit.h"

#include "labels/Label.h"
#include "labels/LabelPage.h"
#include "packing/PackingState.h"

#include <QDateTime>
#include <algorithm>

namespace labels {

QString misfit(const PackingState &job, const settings::PrintSettings &print, const QString &station)
{
    Label outer;
    outer.text = job.outerLabelFor(job.lOuterNo);
    outer.sscc = print.sscc;
    outer.station = station;
    outer.written = QDateTime::currentDateTime();
    outer.packs = job.iPerOuter;
    const int middles = job.iPerMiddle > 0 ? (job.iPerOuter + job.iPerMiddle - 1) / job.iPerMiddle : 1;
    for (int i = 0; i < middles; ++i)
        outer.middles << job.middleLabelFor(job.lMiddleNo + i);
    if (print.gs1) // the longest lot a pack may carry
        outer.content = Content{QStringLiteral("09501101530003"), QString(20, QLatin1Char('W')), QStringLiteral("271231")};
    const PageSize size{print.widthMm, print.heightMm, print.dpi};
    const Drawn drawn = draw(outer, size);
    if (!drawn.misfit.isEmpty() || !print.middle)
        return drawn.misfit;
    // A middle label as a filled middle box gives one: its own barcode (never an SSCC),
    // its outer box and its packs, the longest a pack's text may be.
    Label middle;
    middle.kind = Label::Kind::Middle;
    middle.text = job.middleLabelFor(job.lMiddleNo);
    middle.outer = outer.text;
    middle.station = station;
    middle.written = outer.written;
    middle.packs = job.iPerMiddle;
    const QString longestPack = print.gs1 ? QStringLiteral("(01)09501101530003(21)%1(10)%1(17)271231").arg(QString(20, QLatin1Char('W')))
                                          : QString(std::max<int>(1, job.iInnerLen - 1), QLatin1Char('0'));
    for (int i = 0; i < job.iPerMiddle; ++i)
        middle.packList << longestPack;
    return draw(middle, size).misfit;
}

} // namespace labels
