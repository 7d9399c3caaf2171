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

    const int dpi = size.dpi;
    const int width = dots(size.widthMm, dpi), height = dots(size.heightMm, dpi);
    const int margin = dots(kMarginMm, dpi);
    const int inner = width - 2 * margin;

    // The barcode: as wide as the page allows, in whole dots per module.
    const int modules = int(symbol->modules.size()) + 2 * barcode::kQuietModules;
    const int module = inner / modules;
    const int least = narrowestBarDots(dpi);
    int neededWidth = 0;
    if (module < least)
        neededWidth = modules * least + 2 * margin;

    // The texts, each wrapped to the width.
    std::vector<Line> lines;
    const QString title = (label.kind == Label::Kind::Outer ? QStringLiteral("外箱") : QStringLiteral("中箱"))
                          + (label.reprint ? QStringLiteral("　补打") : QString());
    lines.push_back({title, font(2.6, dpi, true)});
    const int barHeight = std::max(dots(8, dpi), height * 30 / 100);
    lines.push_back({symbol->text, font(5.0, dpi, true), Qt::TextWrapAnywhere | Qt::AlignHCenter});
    for (const QString &s : infoLines(label))
        lines.push_back({s, font(2.6, dpi)});
    QPainter painter;
    if (!painter.begin(&pdf)) {
        out.pdf.clear();
        out.misfit = QStringLiteral("无法生成标签页面");
        return out;
    }
    int needed = 2 * margin + barHeight;
    for (Line &l : lines) {
        painter.setFont(l.font);
        l.height = painter.fontMetrics().boundingRect(QRect(0, 0, inner, 1 << 20), l.flags, l.text).height();
        needed += l.height;
    }
    if (needed > height || neededWidth > 0) {
        painter.end();
        out.pdf.clear();
        out.misfit = QStringLiteral("标签 %1 需要至少 %2×%3 毫米，[print] size 为 %4×%5")
                         .arg(label.text)
                         .arg(mm(std::max(neededWidth, width), dpi))
                         .arg(mm(std::max(needed, height), dpi))
                         .arg(size.widthMm)
                         .arg(size.heightMm);
        return out;
    }

    painter.setPen(Qt::black);
    int y = margin;
    auto text = [&](const Line &l) {
        painter.setFont(l.font);
        painter.drawText(QRect(margin, y, inner, l.height), l.flags, l.text);
        y += l.height;
    };
    text(lines[0]);
    // Bars on whole dots: the PDF's unit is one dot at the printer's resolution.
    const int barWidth = modules * module;
    int x = margin + (inner - barWidth) / 2 + barcode::kQuietModules * module;
    for (size_t i = 0; i < symbol->modules.size();) {
        size_t run = i;
        while (run < symbol->modules.size() && symbol->modules[run] == symbol->modules[i])
            ++run;
        if (symbol->modules[i])
            painter.fillRect(QRect(x + int(i) * module, y, int(run - i) * module, barHeight), Qt::black);
        i = run;
    }
    y += barHeight;
    for (size_t i = 1; i < lines.size(); ++i)
        text(lines[i]);
    painter.end();
    return out;
}

} // namespace labels
