#include "board/BoardJson.h"

#include "board/HourChart.h"

#include <QDateTime>
#include <QJsonArray>
#include <cstdlib>

namespace board {

namespace {

// The time alone for today, with the date otherwise; "" for never.
QString when(qint64 at, qint64 midnight)
{
    if (at == 0)
        return QString();
    const QDateTime t = QDateTime::fromSecsSinceEpoch(at);
    return at >= midnight && at < midnight + 24 * 3600 ? t.toString(QStringLiteral("HH:mm:ss"))
                                                       : t.toString(QStringLiteral("yyyy-MM-dd HH:mm"));
}

QString stateKey(StationState s)
{
    switch (s) {
    case StationState::Writing:
        return QStringLiteral("writing");
    case StationState::Idle:
        return QStringLiteral("idle");
    case StationState::NotHeard:
        break;
    }
    return QStringLiteral("silent");
}

QString stateText(const Station &s, int idleMinutes, qint64 midnight)
{
    switch (s.state) {
    case StationState::Writing:
        return QStringLiteral("在写");
    case StationState::Idle:
        return QStringLiteral("空闲超过 %1 分钟").arg(idleMinutes);
    case StationState::NotHeard:
        break;
    }
    return s.heardAt == 0 ? QStringLiteral("未联系") : QStringLiteral("未联系（最后 %1）").arg(when(s.heardAt, midnight));
}

QJsonObject stationJson(const Station &s, int idleMinutes, qint64 midnight)
{
    return QJsonObject{
        {QStringLiteral("name"), s.name},
        {QStringLiteral("boxes"), s.boxesToday},
        {QStringLiteral("packs"), double(s.packsToday)},
        {QStringLiteral("lastBox"), s.lastBox},
        {QStringLiteral("lastBoxAt"), when(s.lastBoxAt, midnight)},
        {QStringLiteral("backlog"), s.backlog < 0 ? QString() : QString::number(s.backlog)},
        {QStringLiteral("packing"), s.packing},
        // "" when the clock is within a minute of the server's or unknown; else how far off, in minutes.
        {QStringLiteral("clock"), s.clockSkew && std::abs(*s.clockSkew) > 60
                                      ? QStringLiteral("时钟相差 %1 分钟").arg((std::abs(*s.clockSkew) + 30) / 60)
                                      : QString()},
        {QStringLiteral("state"), stateKey(s.state)},
        {QStringLiteral("stateText"), stateText(s, idleMinutes, midnight)},
    };
}

QJsonObject conflictJson(const Conflict &c, qint64 midnight)
{
    QJsonObject o{
        {QStringLiteral("barcode"), c.barcode},
        {QStringLiteral("firstStation"), c.firstStation},
        {QStringLiteral("firstBox"), c.firstBox},
        {QStringLiteral("firstBoxId"), c.firstBoxId},
        {QStringLiteral("firstWritten"), when(c.firstWritten, midnight)},
        {QStringLiteral("secondStation"), c.secondStation},
        {QStringLiteral("secondBox"), c.secondBox},
        {QStringLiteral("secondBoxId"), c.secondBoxId},
        {QStringLiteral("secondWritten"), when(c.secondWritten, midnight)},
        {QStringLiteral("settled"), c.settled},
    };
    if (c.settled) {
        o.insert(QStringLiteral("keptIn"), c.keepIn == c.firstBoxId ? c.firstBox : c.secondBox);
        o.insert(QStringLiteral("keptInFirst"), c.keepIn == c.firstBoxId);
        o.insert(QStringLiteral("decidedBy"), c.decidedBy);
        o.insert(QStringLiteral("reason"), c.reason);
        o.insert(QStringLiteral("decidedAt"), when(c.decidedAt, midnight));
    }
    return o;
}

} // namespace

QJsonObject snapshotJson(const Snapshot &s, qint64 now, int idleMinutes, bool canDecide)
{
    QJsonArray stations;
    for (const Station &st : s.stations)
        stations.append(stationJson(st, idleMinutes, s.midnight));
    QJsonArray conflicts;
    for (const Conflict &c : s.conflicts)
        conflicts.append(conflictJson(c, s.midnight));
    return QJsonObject{
        {QStringLiteral("updated"), when(now, s.midnight)},
        {QStringLiteral("canDecide"), canDecide},
        {QStringLiteral("stations"), stations},
        {QStringLiteral("chart"), QString::fromUtf8(hourChartSvg(s.stations))},
        {QStringLiteral("conflicts"), conflicts},
        {QStringLiteral("openConflicts"), s.openConflicts},
    };
}

QJsonObject lookupJson(const QString &query, const std::vector<packlocations::Location> &found)
{
    QJsonArray rows;
    for (const packlocations::Location &l : found)
        rows.append(QJsonObject{
            {QStringLiteral("station"), l.station},
            {QStringLiteral("workbook"), l.workbook},
            {QStringLiteral("row"), l.sheetRow},
            {QStringLiteral("outerLabel"), l.outerLabel},
            {QStringLiteral("middleLabel"), l.middleLabel},
            {QStringLiteral("barcode"), l.barcode},
            {QStringLiteral("writtenAt"), l.writtenAt},
        });
    return QJsonObject{{QStringLiteral("query"), query}, {QStringLiteral("found"), rows}};
}

} // namespace board
