#include "board/HourChart.h"

#include <QXmlStreamWriter>
#include <algorithm>

namespace board {

namespace {

constexpr int kHours = 24;
constexpr int kNameWidth = 130;
constexpr int kScaleWidth = 44;
// Bars
constexpr int kBarWidth = 22;
constexpr int kBarGap = 4;
constexpr int kRowHeight = 84;
constexpr int kBarHeight = 54;
constexpr int kTop = 22;
// Heat map
constexpr int kCellWidth = 26;
constexpr int kCellHeight = 18;
constexpr int kHeatTop = 34;

const QString kUnit = QStringLiteral("包/小时");

class Svg
{
public:
    explicit Svg(QByteArray *out) : w(out) {}

    void begin(const QString &name, std::initializer_list<std::pair<const char *, QString>> attributes)
    {
        w.writeStartElement(name);
        for (const auto &a : attributes)
            w.writeAttribute(QLatin1String(a.first), a.second);
    }
    void end() { w.writeEndElement(); }
    void element(const QString &name, std::initializer_list<std::pair<const char *, QString>> attributes)
    {
        begin(name, attributes);
        end();
    }
    void text(int x, int y, const QString &s, const QString &cls, const char *anchor = "start")
    {
        begin(QStringLiteral("text"), {{"x", QString::number(x)}, {"y", QString::number(y)}, {"class", cls},
                                      {"text-anchor", QLatin1String(anchor)}});
        w.writeCharacters(s);
        end();
    }
    void title(const QString &s) { w.writeTextElement(QStringLiteral("title"), s); }

    QXmlStreamWriter w;
};

QString n(qint64 v)
{
    return QString::number(v);
}

QString hourSpan(const QString &station, const HourCount &h)
{
    return QStringLiteral("%1 %2:00–%3:00：%4 包，%5 箱")
        .arg(station).arg(h.hour, 2, 10, QLatin1Char('0')).arg(h.hour + 1, 2, 10, QLatin1Char('0')).arg(h.packs).arg(h.boxes);
}

void bars(Svg &svg, const std::vector<Station> &stations, int hours, qint64 top, int currentHour)
{
    const int plotLeft = kNameWidth + kScaleWidth;
    const int plotRight = plotLeft + hours * (kBarWidth + kBarGap);
    svg.text(plotLeft - 6, 14, kUnit, QStringLiteral("unit"), "end");
    int row = 0;
    for (const Station &s : stations) {
        const int base = kTop + row++ * kRowHeight + kBarHeight;
        svg.begin(QStringLiteral("g"), {{"class", QStringLiteral("station")}, {"data-station", s.name}});
        svg.text(0, base - kBarHeight / 2, s.name, QStringLiteral("name"));
        svg.text(0, base - kBarHeight / 2 + 16, QStringLiteral("%1 包").arg(s.packsToday), QStringLiteral("total"));
        if (currentHour >= 0 && currentHour < hours)
            svg.element(QStringLiteral("rect"), {{"x", n(plotLeft + currentHour * (kBarWidth + kBarGap) - kBarGap / 2)},
                                                 {"y", n(base - kBarHeight - 2)}, {"width", n(kBarWidth + kBarGap)},
                                                 {"height", n(kBarHeight + 2)}, {"class", QStringLiteral("now")}});
        // The scale: 0, half and the top, each with its gridline.
        for (qint64 tick : {qint64(0), top / 2, top}) {
            const int y = base - int(tick * kBarHeight / top);
            svg.element(QStringLiteral("line"), {{"x1", n(plotLeft)}, {"x2", n(plotRight)}, {"y1", n(y)}, {"y2", n(y)},
                                                 {"class", tick == 0 ? QStringLiteral("axis") : QStringLiteral("grid")}});
            svg.text(plotLeft - 6, y + 4, n(tick), QStringLiteral("tick"), "end");
        }
        for (int hour = 0; hour < hours; hour += 3)
            svg.text(plotLeft + hour * (kBarWidth + kBarGap) + kBarWidth / 2, base + 14, n(hour), QStringLiteral("hour"), "middle");
        for (const HourCount &h : s.hours) {
            const int tall = std::max<int>(1, int(h.packs * kBarHeight / top));
            svg.begin(QStringLiteral("rect"), {{"x", n(plotLeft + h.hour * (kBarWidth + kBarGap))}, {"y", n(base - tall)},
                                              {"width", n(kBarWidth)}, {"height", n(tall)}, {"class", QStringLiteral("bar")},
                                              {"data-hour", n(h.hour)}, {"data-packs", n(h.packs)}, {"data-boxes", n(h.boxes)}});
            svg.title(hourSpan(s.name, h));
            svg.end();
        }
        svg.end();
    }
}

QString shade(qint64 packs, qint64 top)
{
    // From a pale to a deep blue, by the share of the scale's top.
    const int pale[3] = {0xdc, 0xe9, 0xf5}, deep[3] = {0x12, 0x4a, 0x80};
    const double share = std::clamp(double(packs) / double(top), 0.0, 1.0);
    QString colour = QStringLiteral("#");
    for (int i = 0; i < 3; ++i)
        colour += QStringLiteral("%1").arg(int(pale[i] + (deep[i] - pale[i]) * share + 0.5), 2, 16, QLatin1Char('0'));
    return colour;
}

void heatMap(Svg &svg, const std::vector<Station> &stations, int hours, qint64 top, int currentHour)
{
    const int left = kNameWidth;
    for (int hour = 0; hour < hours; ++hour)
        svg.text(left + hour * kCellWidth + kCellWidth / 2, kHeatTop - 6, n(hour), QStringLiteral("hour"), "middle");
    // The legend: the scale in colour, with its unit.
    const int legendX = left;
    svg.text(0, 14, QStringLiteral("颜色越深产量越高"), QStringLiteral("unit"));
    for (int step = 0; step <= 4; ++step)
        svg.element(QStringLiteral("rect"), {{"x", n(legendX + 70 + step * 18)}, {"y", n(4)}, {"width", n(18)}, {"height", n(12)},
                                             {"fill", shade(top * step / 4, top)}, {"class", QStringLiteral("legend")}});
    svg.text(legendX + 66, 14, QStringLiteral("0"), QStringLiteral("tick"), "end");
    svg.text(legendX + 70 + 5 * 18 + 4, 14, QStringLiteral("%1 %2").arg(top).arg(kUnit), QStringLiteral("tick"));
    int row = 0;
    for (const Station &s : stations) {
        const int y = kHeatTop + row++ * kCellHeight;
        svg.begin(QStringLiteral("g"), {{"class", QStringLiteral("station")}, {"data-station", s.name}});
        svg.text(0, y + kCellHeight - 5, s.name, QStringLiteral("name small"));
        svg.element(QStringLiteral("rect"), {{"x", n(left)}, {"y", n(y + 1)}, {"width", n(hours * kCellWidth)},
                                             {"height", n(kCellHeight - 2)}, {"class", QStringLiteral("empty")}});
        for (const HourCount &h : s.hours) {
            svg.begin(QStringLiteral("rect"), {{"x", n(left + h.hour * kCellWidth + 1)}, {"y", n(y + 1)},
                                              {"width", n(kCellWidth - 2)}, {"height", n(kCellHeight - 2)},
                                              {"fill", shade(h.packs, top)}, {"class", QStringLiteral("cell")},
                                              {"data-hour", n(h.hour)}, {"data-packs", n(h.packs)}, {"data-boxes", n(h.boxes)}});
            svg.title(hourSpan(s.name, h));
            svg.end();
        }
        svg.end();
    }
    if (currentHour >= 0 && currentHour < hours)
        svg.element(QStringLiteral("rect"), {{"x", n(left + currentHour * kCellWidth)}, {"y", n(kHeatTop - 1)},
                                             {"width", n(kCellWidth)}, {"height", n(int(stations.size()) * kCellHeight + 2)},
                                             {"class", QStringLiteral("now")}});
}

} // namespace

qint64 niceScaleTop(qint64 most)
{
    qint64 power = 1;
    for (;;) {
        for (qint64 f : {1, 2, 5})
            if (most <= f * power)
                return f * power;
        power *= 10;
    }
}

QByteArray hourChartSvg(const std::vector<Station> &stations, int currentHour)
{
    qint64 most = 1;
    int hours = kHours;
    for (const Station &s : stations)
        for (const HourCount &h : s.hours) {
            most = std::max(most, h.packs);
            hours = std::max(hours, h.hour + 1);
        }
    const qint64 top = niceScaleTop(most);
    const bool heat = stations.size() > kBarsUpTo;
    const int rows = std::max<int>(1, int(stations.size()));
    const int width = heat ? kNameWidth + hours * kCellWidth + 8 : kNameWidth + kScaleWidth + hours * (kBarWidth + kBarGap) + 8;
    const int height = heat ? kHeatTop + rows * kCellHeight + 6 : kTop + rows * kRowHeight;

    QByteArray out;
    Svg svg(&out);
    svg.begin(QStringLiteral("svg"), {});
    svg.w.writeDefaultNamespace(QStringLiteral("http://www.w3.org/2000/svg"));
    svg.w.writeAttribute(QStringLiteral("viewBox"), QStringLiteral("0 0 %1 %2").arg(width).arg(height));
    svg.w.writeAttribute(QStringLiteral("width"), n(width));
    svg.w.writeAttribute(QStringLiteral("role"), QStringLiteral("img"));
    svg.w.writeAttribute(QStringLiteral("class"), heat ? QStringLiteral("heat") : QStringLiteral("bars"));
    svg.title(QStringLiteral("今日每小时产量（%1）").arg(kUnit));
    if (stations.empty())
        svg.text(8, kTop + 30, QStringLiteral("今日尚无记录"), QStringLiteral("empty"));
    else if (heat)
        heatMap(svg, stations, hours, top, currentHour);
    else
        bars(svg, stations, hours, top, currentHour);
    svg.end();
    return out;
}

} // namespace board
