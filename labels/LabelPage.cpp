#include "labels/LabelPage.h"

#include "core/Gs1Ais.h"
#include "core/Gs1Scan.h"
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

// The page in dots, and the narrowest bar.
struct Page
{
    int dpi = 0;
    int width = 0, height = 0;
    int margin = 0, inner = 0;
};

// One barcode on the page, in whole dots per module.
struct Bars
{
    barcode::Symbol symbol;
    int modules = 0; // the symbol's with its quiet zones
    int module = 0;  // dots per module
    int height = 0;
    int neededWidth = 0; // the page width the bars need, 0 when they fit
};

Page pageOf(const PageSize &size)
{
    Page p;
    p.dpi = size.dpi;
    p.width = dots(size.widthMm, p.dpi);
    p.height = dots(size.heightMm, p.dpi);
    p.margin = dots(kMarginMm, p.dpi);
    p.inner = p.width - 2 * p.margin;
    return p;
}

// As wide as the page allows; of several on one page, each is lower.
Bars barsOf(barcode::Symbol symbol, const Page &p, int symbolsOnPage)
{
    Bars b;
    b.modules = int(symbol.modules.size()) + 2 * barcode::kQuietModules;
    b.module = p.inner / b.modules;
    const int least = narrowestBarDots(p.dpi);
    if (b.module < least)
        b.neededWidth = b.modules * least + 2 * p.margin;
    b.height = std::max(dots(8, p.dpi), p.height * 30 / 100 / symbolsOnPage);
    b.symbol = std::move(symbol);
    return b;
}

// One thing on the page, top to bottom: a line of text or a barcode.
struct Item
{
    Line line;
    int bars = -1; // index of the barcode, or -1 for the line
};

// "2027-06-30" from "270630" (DD 00: the month's last day); as it stands when no date.
QString dateShown(const QString &yymmdd, const QDateTime &written)
{
    const QDate d = gs1::dateOf(yymmdd, written.date().isValid() ? written.date() : QDate::currentDate());
    return d.isValid() ? d.toString(QStringLiteral("yyyy-MM-dd")) : yymmdd;
}

// What a GS1 box holds, titled in English and Chinese as logistic labels are read.
QStringList contentLines(const Label &l)
{
    QStringList out{QStringLiteral("CONTENT 内装产品：%1").arg(l.content->gtin), QStringLiteral("COUNT 数量：%1").arg(l.packs)};
    if (!l.content->lot.isEmpty())
        out << QStringLiteral("BATCH/LOT 批号：%1").arg(l.content->lot);
    if (!l.content->expiry.isEmpty())
        out << QStringLiteral("USE BY 有效期至：%1").arg(dateShown(l.content->expiry, l.written));
    return out;
}

QString bracketed(const std::vector<gs1::Element> &elements)
{
    QString out;
    for (const gs1::Element &e : elements)
        out += QLatin1Char('[') + e.ai + QLatin1Char(']') + e.data;
    return out;
}

// The element strings of the box's content: (02) GTIN, (37) count, its lot and expiry;
// split in two (the lot and expiry in a second symbol) when one is too wide for the page
// or holds more than GS1-128's 48 data characters.
QStringList contentElements(const Label &l, bool split)
{
    using namespace gs1::ai;
    const std::vector<gs1::Element> product{{kContent, l.content->gtin}, {kCount, QString::number(l.packs)}};
    std::vector<gs1::Element> lot;
    if (!l.content->lot.isEmpty())
        lot.push_back({kLot, l.content->lot});
    if (!l.content->expiry.isEmpty())
        lot.push_back({kExpiry, l.content->expiry});
    std::vector<gs1::Element> all = product;
    all.insert(all.end(), lot.begin(), lot.end());
    if (!lot.empty() && (split || gs1::dataCharacters(all) > gs1::kMostGs1128Characters))
        return {bracketed(product), bracketed(lot)};
    return {bracketed(all)};
}

bool hasLotOrExpiry(const Label &l)
{
    return l.content && (!l.content->lot.isEmpty() || !l.content->expiry.isEmpty());
}

// The barcodes of the label: its own; a GS1 logistic label has the content's above the SSCC.
std::vector<barcode::Symbol> symbolsOf(const Label &label, bool split, QString *why)
{
    std::vector<barcode::Symbol> out;
    if (label.content && label.sscc) {
        for (const QString &elements : contentElements(label, split)) {
            if (std::optional<barcode::Symbol> content = barcode::encode(barcode::Kind::Gs1, elements, why))
                out.push_back(std::move(*content));
            else
                return {};
        }
    }
    if (std::optional<barcode::Symbol> own =
            barcode::encode(label.sscc ? barcode::Kind::Gs1Sscc : barcode::Kind::Code128, label.text, why))
        out.push_back(std::move(*own));
    else
        return {};
    return out;
}

std::vector<Item> itemsOf(const Label &label, const std::vector<Bars> &bars, int dpi)
{
    std::vector<Item> items;
    const QString title = (label.kind == Label::Kind::Outer ? QStringLiteral("外箱") : QStringLiteral("中箱"))
                          + (label.reprint ? QStringLiteral("　补打") : QString());
    items.push_back({{title, font(2.6, dpi, true)}});
    if (label.content)
        for (const QString &s : contentLines(label))
            items.push_back({{s, font(3.0, dpi, true)}});
    for (size_t i = 0; i < bars.size(); ++i) {
        items.push_back({{}, int(i)});
        const bool own = i + 1 == bars.size();
        items.push_back({{bars[i].symbol.text, font(own ? 5.0 : 3.5, dpi, true), Qt::TextWrapAnywhere | Qt::AlignHCenter}});
    }
    for (const QString &s : infoLines(label))
        items.push_back({{s, font(2.6, dpi)}});
    return items;
}

// The page height the items need; each line learns its own height.
int heightNeeded(QPainter &painter, std::vector<Item> &items, const std::vector<Bars> &bars, const Page &p)
{
    int needed = 2 * p.margin;
    for (Item &item : items) {
        if (item.bars >= 0) {
            needed += bars[size_t(item.bars)].height;
            continue;
        }
        painter.setFont(item.line.font);
        item.line.height =
            painter.fontMetrics().boundingRect(QRect(0, 0, p.inner, 1 << 20), item.line.flags, item.line.text).height();
        needed += item.line.height;
    }
    return needed;
}

// Bars on whole dots: the PDF's unit is one dot at the printer's resolution.
void drawBars(QPainter &painter, const Bars &b, const Page &p, int y)
{
    const std::vector<bool> &modules = b.symbol.modules;
    const int barWidth = b.modules * b.module;
    const int x = p.margin + (p.inner - barWidth) / 2 + barcode::kQuietModules * b.module;
    for (size_t i = 0; i < modules.size();) {
        size_t run = i;
        while (run < modules.size() && modules[run] == modules[i])
            ++run;
        if (modules[i])
            painter.fillRect(QRect(x + int(i) * b.module, y, int(run - i) * b.module, b.height), Qt::black);
        i = run;
    }
}

QString misfitText(const Label &label, const Page &p, int neededWidth, int neededHeight, const PageSize &size)
{
    return QStringLiteral("标签 %1 需要至少 %2×%3 毫米，[print] size 为 %4×%5")
        .arg(label.text)
        .arg(mm(std::max(neededWidth, p.width), p.dpi))
        .arg(mm(std::max(neededHeight, p.height), p.dpi))
        .arg(size.widthMm)
        .arg(size.heightMm);
}

Drawn drawn(const Label &label, const PageSize &size, bool split)
{
    Drawn out;
    QString why;
    std::vector<barcode::Symbol> symbols = symbolsOf(label, split, &why);
    if (symbols.empty()) {
        out.misfit = why;
        return out;
    }
    const Page p = pageOf(size);
    std::vector<Bars> bars;
    int neededWidth = 0;
    for (barcode::Symbol &symbol : symbols) {
        bars.push_back(barsOf(std::move(symbol), p, int(symbols.size())));
        neededWidth = std::max(neededWidth, bars.back().neededWidth);
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

    std::vector<Item> items = itemsOf(label, bars, p.dpi);
    QPainter painter;
    if (!painter.begin(&pdf)) {
        out.pdf.clear();
        out.misfit = QStringLiteral("无法生成标签页面");
        return out;
    }
    const int needed = heightNeeded(painter, items, bars, p);
    if (needed > p.height || neededWidth > 0) {
        painter.end();
        out.pdf.clear();
        out.misfit = misfitText(label, p, neededWidth, needed, size);
        return out;
    }
    painter.setPen(Qt::black);
    int y = p.margin;
    for (const Item &item : items) {
        if (item.bars >= 0) {
            drawBars(painter, bars[size_t(item.bars)], p, y);
            y += bars[size_t(item.bars)].height;
            continue;
        }
        painter.setFont(item.line.font);
        painter.drawText(QRect(p.margin, y, p.inner, item.line.height), item.line.flags, item.line.text);
        y += item.line.height;
    }
    painter.end();
    return out;
}

} // namespace

Drawn draw(const Label &label, const PageSize &size)
{
    Drawn one = drawn(label, size, false);
    if (one.misfit.isEmpty() || !label.sscc || !hasLotOrExpiry(label))
        return one;
    Drawn two = drawn(label, size, true);
    return two.misfit.isEmpty() ? two : one;
}

} // namespace labels
