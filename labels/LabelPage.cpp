#include "labels/LabelPage.h"

#include "platform/BarcodeSymbol.h"

#include <QBuffer>
#include <QFont>
#include <QFontMetrics>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <cmath>

namespace labels {

namespace {

constexpr double kMmPerInch = 25.4;
constexpr double kMarginMm = 2.0;

struct Line
{
    QString text;
    QFont font;
    int flags = Qt::TextWrapAnywhere;
    int height = 0; // dots, wrapped to the width
};

int dots(double mm, int dpi)
{
    return int(std::lround(mm * dpi / kMmPerInch));
}

int mm(int dots, int dpi)
{
    return int(std::ceil(dots * kMmPerInch / dpi));
}

QFont font(double mmHigh, int dpi, bool bold = false)
{
    QFont f(QStringLiteral("WenQuanYi Micro Hei"));
    f.setPixelSize(std::max(1, dots(mmHigh, dpi)));
    f.setBold(bold);
    return f;
}

QString when(const Label &l)
{
    return l.written.toString(l.timeKnown ? QStringLiteral("yyyy-MM-dd HH:mm:ss") : QStringLiteral("yyyy-MM-dd"));
}

QStringList infoLines(const Label &l)
{
    if (l.kind == Label::Kind::Outer)
        return {QStringLiteral("工位：%1").arg(l.station), QStringLiteral("写入：%1").arg(when(l)),
                QStringLiteral("内包：%1 包").arg(l.packs), QStringLiteral("中箱：%1").arg(l.middles.join(QStringLiteral("、")))};
    return {QStringLiteral("外箱：%1").arg(l.outer), QStringLiteral("工位：%1　%2").arg(l.station, when(l)),
            QStringLiteral("内包（%1）：%2").arg(l.packs).arg(l.packList.join(QStringLiteral("、")))};
}

} // namespace

int narrowestBarDots(int dpi)
{
    return std::max(1, int(std::ceil(0.25 * dpi / kMmPerInch)));
}

namespace {

// Where things go on the page, in dots.
struct Layout
{
    int dpi = 0;
    int width = 0, height = 0;
    int margin = 0, inner = 0;
    int modules = 0; // the symbol's with its quiet zones
    int module = 0;  // dots per module
    int barHeight = 0;
    int neededWidth = 0; // the page width the bars need, 0 when they fit
};

Layout layoutFor(const barcode::Symbol &symbol, const PageSize &size)
{
    Layout l;
    l.dpi = size.dpi;
    l.width = dots(size.widthMm, l.dpi);
    l.height = dots(size.heightMm, l.dpi);
    l.margin = dots(kMarginMm, l.dpi);
    l.inner = l.width - 2 * l.margin;
    // The barcode: as wide as the page allows, in whole dots per module.
    l.modules = int(symbol.modules.size()) + 2 * barcode::kQuietModules;
    l.module = l.inner / l.modules;
    const int least = narrowestBarDots(l.dpi);
    if (l.module < least)
        l.neededWidth = l.modules * least + 2 * l.margin;
    l.barHeight = std::max(dots(8, l.dpi), l.height * 30 / 100);
    return l;
}

// The texts, each wrapped to the width: the title, then (below the bars) the
// symbol's text and what the label says of its box.
std::vector<Line> linesOf(const Label &label, const barcode::Symbol &symbol, int dpi)
{
    std::vector<Line> lines;
    const QString title = (label.kind == Label::Kind::Outer ? QStringLiteral("外箱") : QStringLiteral("中箱"))
                          + (label.reprint ? QStringLiteral("　补打") : QString());
    lines.push_back({title, font(2.6, dpi, true)});
    lines.push_back({symbol.text, font(5.0, dpi, true), Qt::TextWrapAnywhere | Qt::AlignHCenter});
    for (const QString &s : infoLines(label))
        lines.push_back({s, font(2.6, dpi)});
    return lines;
}

// The page height the lines and bars need; each line learns its own height.
int heightNeeded(QPainter &painter, std::vector<Line> &lines, const Layout &l)
{
    int needed = 2 * l.margin + l.barHeight;
    for (Line &line : lines) {
        painter.setFont(line.font);
        line.height = painter.fontMetrics().boundingRect(QRect(0, 0, l.inner, 1 << 20), line.flags, line.text).height();
        needed += line.height;
    }
    return needed;
}

// Bars on whole dots: the PDF's unit is one dot at the printer's resolution.
void drawBars(QPainter &painter, const barcode::Symbol &symbol, const Layout &l, int y)
{
    const int barWidth = l.modules * l.module;
    const int x = l.margin + (l.inner - barWidth) / 2 + barcode::kQuietModules * l.module;
    for (size_t i = 0; i < symbol.modules.size();) {
        size_t run = i;
        while (run < symbol.modules.size() && symbol.modules[run] == symbol.modules[i])
            ++run;
        if (symbol.modules[i])
            painter.fillRect(QRect(x + int(i) * l.module, y, int(run - i) * l.module, l.barHeight), Qt::black);
        i = run;
    }
}

} // namespace

Drawn draw(const Label &label, const PageSize &size)
{
    Drawn out;
    QString why;
    const std::optional<barcode::Symbol> symbol =
        barcode::encode(label.sscc ? barcode::Kind::Gs1Sscc : barcode::Kind::Code128, label.text, &why);
    if (!symbol) {
        out.misfit = why;
        return out;
    }
    // A buffer in memory, no file: the print system is handed the bytes.
    QBuffer buffer(&out.pdf);
    buffer.open(QIODevice::WriteOnly);
    QPdfWriter pdf(&buffer);
    pdf.setResolution(size.dpi);
    pdf.setPageSize(QPageSize(QSizeF(size.widthMm, size.heightMm), QPageSize::Millimeter));
    pdf.setPageMargins(QMarginsF(0, 0, 0, 0));
    pdf.setTitle(label.text);
    pdf.setCreator(QStringLiteral("zantrel"));

    const Layout l = layoutFor(*symbol, size);
    std::vector<Line> lines = linesOf(label, *symbol, l.dpi);
    QPainter painter;
    if (!painter.begin(&pdf)) {
        out.pdf.clear();
        out.misfit = QStringLiteral("无法生成标签页面");
        return out;
    }
    const int needed = heightNeeded(painter, lines, l);
    if (needed > l.height || l.neededWidth > 0) {
        painter.end();
        out.pdf.clear();
        out.misfit = QStringLiteral("标签 %1 需要至少 %2×%3 毫米，[print] size 为 %4×%5")
                         .arg(label.text)
                         .arg(mm(std::max(l.neededWidth, l.width), l.dpi))
                         .arg(mm(std::max(needed, l.height), l.dpi))
                         .arg(size.widthMm)
                         .arg(size.heightMm);
        return out;
    }

    painter.setPen(Qt::black);
    int y = l.margin;
    auto text = [&](const Line &line) {
        painter.setFont(line.font);
        painter.drawText(QRect(l.margin, y, l.inner, line.height), line.flags, line.text);
        y += line.height;
    };
    text(lines[0]);
    drawBars(painter, *symbol, l, y);
    y += l.barHeight;
    for (size_t i = 1; i < lines.size(); ++i)
        text(lines[i]);
    painter.end();
    return out;
}

} // namespace labels
