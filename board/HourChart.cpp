#include "board/HourChart.h"

#include <QXmlStreamWriter>
#include <algorithm>

namespace board {

namespace {

constexpr int kNameWidth = 130;
constexpr int kBarWidth = 22;
constexpr int kBarGap = 4;
constexpr int kRowHeight = 74;
constexpr int kBarHeight = 50;
constexpr int kTop = 8;
constexpr int kHours = 24;

void text(QXmlStreamWriter &w, int x, int y, const QString &s, const QString &cls, const char *anchor = "start")
{
    w.writeStartElement(QStringLiteral("text"));
    w.writeAttribute(QStringLiteral("x"), QString::number(x));
    w.writeAttribute(QStringLiteral("y"), QString::number(y));
    w.writeAttribute(QStringLiteral("class"), cls);
    w.writeAttribute(QStringLiteral("text-anchor"), QLatin1String(anchor));
    w.writeCharacters(s);
    w.writeEndElement();
}

} // namespace

QByteArray hourChartSvg(const std::vector<Station> &stations)
{
    qint64 most = 1;
    int hours = kHours;
    for (const Station &s : stations)
        for (const HourCount &h : s.hours) {
            most = std::max(most, h.packs);
            hours = std::max(hours, h.hour + 1);
        }
    const int width = kNameWidth + hours * (kBarWidth + kBarGap) + 40;
    const int height = kTop + std::max<int>(1, int(stations.size())) * kRowHeight + 4;

    QByteArray out;
    QXmlStreamWriter w(&out);
    w.writeStartElement(QStringLiteral("svg"));
    w.writeDefaultNamespace(QStringLiteral("http://www.w3.org/2000/svg"));
    w.writeAttribute(QStringLiteral("viewBox"), QStringLiteral("0 0 %1 %2").arg(width).arg(height));
    w.writeAttribute(QStringLiteral("width"), QString::number(width));
    w.writeAttribute(QStringLiteral("role"), QStringLiteral("img"));
    w.writeTextElement(QStringLiteral("title"), QStringLiteral("今日每小时产量（内包数）"));
    if (stations.empty())
        text(w, 8, kTop + 30, QStringLiteral("今日尚无记录"), QStringLiteral("empty"));
    int row = 0;
    for (const Station &s : stations) {
        const int base = kTop + row++ * kRowHeight + kBarHeight + 4;
        w.writeStartElement(QStringLiteral("g"));
        w.writeAttribute(QStringLiteral("class"), QStringLiteral("station"));
        w.writeAttribute(QStringLiteral("data-station"), s.name);
        text(w, 0, base - kBarHeight / 2, s.name, QStringLiteral("name"));
        text(w, 0, base - kBarHeight / 2 + 16, QStringLiteral("%1 包").arg(s.packsToday), QStringLiteral("total"));
        w.writeStartElement(QStringLiteral("line"));
        w.writeAttribute(QStringLiteral("x1"), QString::number(kNameWidth));
        w.writeAttribute(QStringLiteral("x2"), QString::number(kNameWidth + hours * (kBarWidth + kBarGap)));
        w.writeAttribute(QStringLiteral("y1"), QString::number(base));
        w.writeAttribute(QStringLiteral("y2"), QString::number(base));
        w.writeAttribute(QStringLiteral("class"), QStringLiteral("axis"));
        w.writeEndElement();
        for (int hour = 0; hour < hours; ++hour) {
            const int x = kNameWidth + hour * (kBarWidth + kBarGap);
            if (hour % 3 == 0)
                text(w, x + kBarWidth / 2, base + 14, QString::number(hour), QStringLiteral("hour"), "middle");
        }
        for (const HourCount &h : s.hours) {
            const int tall = std::max<int>(1, int(h.packs * kBarHeight / most));
            w.writeStartElement(QStringLiteral("rect"));
            w.writeAttribute(QStringLiteral("x"), QString::number(kNameWidth + h.hour * (kBarWidth + kBarGap)));
            w.writeAttribute(QStringLiteral("y"), QString::number(base - tall));
            w.writeAttribute(QStringLiteral("width"), QString::number(kBarWidth));
            w.writeAttribute(QStringLiteral("height"), QString::number(tall));
            w.writeAttribute(QStringLiteral("class"), QStringLiteral("bar"));
            w.writeAttribute(QStringLiteral("data-hour"), QString::number(h.hour));
            w.writeAttribute(QStringLiteral("data-packs"), QString::number(h.packs));
            w.writeAttribute(QStringLiteral("data-boxes"), QString::number(h.boxes));
            w.writeTextElement(QStringLiteral("title"), QStringLiteral("%1 %2:00–%3:00：%4 包，%5 箱")
                                                            .arg(s.name).arg(h.hour, 2, 10, QLatin1Char('0'))
                                                            .arg(h.hour + 1, 2, 10, QLatin1Char('0')).arg(h.packs).arg(h.boxes));
            w.writeEndElement();
        }
        w.writeEndElement();
    }
    w.writeEndElement();
    return out;
}

} // namespace board
