#include "board/BoardJson.h"

#include "board/HourChart.h"
#include "plant/ChangeKinds.h"

#include <QDateTime>
#include <QJsonArray>
#include <QTimeZone>
#include <algorithm>
#include <cstdlib>
#include <map>

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

// "Asia/Shanghai（UTC+08:00）": the zone every time on the page is in.
QString zoneText(const QDateTime &local)
{
    const int offset = local.offsetFromUtc();
    const int minutes = std::abs(offset) / 60;
    const QString utc = QStringLiteral("UTC%1%2:%3")
                            .arg(offset < 0 ? QLatin1Char('-') : QLatin1Char('+'))
                            .arg(minutes / 60, 2, 10, QLatin1Char('0'))
                            .arg(minutes % 60, 2, 10, QLatin1Char('0'));
    const QByteArray id = local.timeZone().id();
    return id.isEmpty() ? utc : QStringLiteral("%1（%2）").arg(QString::fromUtf8(id), utc);
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

// The open box and what it holds: "W003 (01)09501101530003 (10)L24".
QString openBoxText(const Station &s)
{
    QString text = s.packing;
    if (!s.product.isEmpty())
        text += QStringLiteral(" (01)") + s.product;
    if (!s.lot.isEmpty())
        text += QStringLiteral(" (10)") + s.lot;
    return text.trimmed();
}

// "(01)09501101530003 (10)L24：120 包；…", one lot after another.
QString lotsText(const Station &s)
{
    QStringList lots;
    for (const Station::LotCount &l : s.lotsToday)
        lots << QStringLiteral("(01)%1%2：%3 包").arg(l.gtin, l.lot.isEmpty() ? QString() : QStringLiteral(" (10)") + l.lot).arg(l.packs);
    return lots.join(QStringLiteral("；"));
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
        {QStringLiteral("open"), openBoxText(s)},
        {QStringLiteral("lots"), lotsText(s)},
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
        o.insert(QStringLiteral("decisionId"), c.decisionId);
    }
    return o;
}

} // namespace

std::vector<Station> problemsFirst(std::vector<Station> stations)
{
    const auto rank = [](StationState st) { return st == StationState::NotHeard ? 0 : st == StationState::Idle ? 1 : 2; };
    // A company's stations stay with their plant.
    std::stable_sort(stations.begin(), stations.end(), [&](const Station &a, const Station &b) {
        if (a.plant != b.plant)
            return a.plant < b.plant;
        return rank(a.state) != rank(b.state) ? rank(a.state) < rank(b.state) : a.name < b.name;
    });
    return stations;
}

QString summaryLine(const Snapshot &s)
{
    int notHeard = 0, idle = 0, writing = 0, boxes = 0;
    qint64 packs = 0;
    for (const Station &st : s.stations) {
        notHeard += st.state == StationState::NotHeard;
        idle += st.state == StationState::Idle;
        writing += st.state == StationState::Writing;
        boxes += st.boxesToday;
        packs += st.packsToday;
    }
    return QStringLiteral("未联系 %1 · 空闲 %2 · 在写 %3 · 今日%7 %4 箱 %5 包 · 待决定 %6")
        .arg(notHeard).arg(idle).arg(writing).arg(boxes).arg(packs).arg(s.openConflicts)
        .arg(s.company ? QStringLiteral("全公司") : QStringLiteral("全线"));
}

namespace {

// A company's plants in name order, each with the count of its stations by state and
// its output today.
QJsonArray plantsJson(const std::vector<Station> &stations)
{
    struct Plant
    {
        int stations = 0, notHeard = 0, idle = 0, writing = 0, boxes = 0;
        qint64 packs = 0;
    };
    std::map<QString, Plant> plants;
    for (const Station &st : stations) {
        Plant &p = plants[st.plant];
        ++p.stations;
        p.notHeard += st.state == StationState::NotHeard;
        p.idle += st.state == StationState::Idle;
        p.writing += st.state == StationState::Writing;
        p.boxes += st.boxesToday;
        p.packs += st.packsToday;
    }
    QJsonArray out;
    for (const auto &[name, p] : plants)
        out.append(QJsonObject{{QStringLiteral("name"), name},
                               {QStringLiteral("stations"), p.stations},
                               {QStringLiteral("notHeard"), p.notHeard},
                               {QStringLiteral("idle"), p.idle},
                               {QStringLiteral("writing"), p.writing},
                               {QStringLiteral("boxes"), p.boxes},
                               {QStringLiteral("packs"), double(p.packs)}});
    return out;
}

QJsonObject batchJson(const BatchView &b)
{
    const std::optional<Batch::State> state = batchstate::named(b.state);
    return QJsonObject{{QStringLiteral("batch"), b.number},
                       {QStringLiteral("line"), b.line},
                       {QStringLiteral("plant"), b.plant},
                       {QStringLiteral("state"), b.state},
                       {QStringLiteral("stateText"), state ? batchstate::shown(*state) : b.state},
                       {QStringLiteral("planned"), double(b.planned)},
                       {QStringLiteral("packed"), double(b.packed)},
                       {QStringLiteral("overPlan"), b.packed > b.planned},
                       {QStringLiteral("product"), b.gtin},
                       {QStringLiteral("lot"), b.lot},
                       {QStringLiteral("expiry"), b.expiry},
                       {QStringLiteral("stations"), b.stations}};
}

} // namespace

QJsonObject snapshotJson(const Snapshot *last, const Freshness &f, qint64 now, const PageRules &rules)
{
    const Snapshot none{QDateTime(QDate::currentDate(), QTime(0, 0)).toSecsSinceEpoch(), {}, {}, 0, false, false, false, {}};
    const Snapshot &s = last ? *last : none;
    const std::vector<Station> listed = problemsFirst(s.stations);
    QJsonArray stations;
    int boxes = 0;
    qint64 packs = 0;
    for (const Station &st : listed) {
        stations.append(stationJson(st, rules.idleMinutes, s.midnight));
        boxes += st.boxesToday;
        packs += st.packsToday;
    }
    QJsonArray conflicts;
    for (const Conflict &c : s.conflicts)
        conflicts.append(conflictJson(c, s.midnight));
    QJsonArray batches;
    for (const BatchView &b : s.batches)
        batches.append(batchJson(b));
    const QString readOnly = s.company ? QStringLiteral("只读：这是公司汇总库，决定与返工在各厂的看板上记录。")
                             : !rules.token ? QStringLiteral("只读：看板未以令牌启动（--token-file），不能记录决定。")
                             : last && !s.supervisor
                                 ? QStringLiteral("只读：看板的数据库登录不属于 zantrel_supervisor，不能记录决定。")
                                 : QString();
    const QDateTime local = QDateTime::fromSecsSinceEpoch(now);
    return QJsonObject{
        {QStringLiteral("fresh"), f.fresh},
        {QStringLiteral("asOf"), f.asOf == 0 ? QString() : QDateTime::fromSecsSinceEpoch(f.asOf).toString(QStringLiteral("HH:mm:ss"))},
        {QStringLiteral("problem"), f.problem},
        {QStringLiteral("zone"), zoneText(local)},
        {QStringLiteral("canDecide"), rules.token && last && s.supervisor},
        {QStringLiteral("canRework"), rules.token && last && s.rework},
        {QStringLiteral("readOnly"), readOnly},
        {QStringLiteral("summary"), summaryLine(s)},
        {QStringLiteral("total"), QJsonObject{{QStringLiteral("boxes"), boxes}, {QStringLiteral("packs"), double(packs)}}},
        {QStringLiteral("stations"), stations},
        {QStringLiteral("plants"), s.company ? plantsJson(listed) : QJsonArray()},
        {QStringLiteral("chart"), QString::fromUtf8(hourChartSvg(listed, int((now - s.midnight) / 3600)))},
        {QStringLiteral("conflicts"), conflicts},
        {QStringLiteral("openConflicts"), s.openConflicts},
        {QStringLiteral("batches"), batches},
    };
}

QJsonObject batchBoxesJson(const QString &batch, const std::vector<batches::BatchBox> &boxes)
{
    QJsonArray rows;
    for (const batches::BatchBox &b : boxes)
        rows.append(QJsonObject{{QStringLiteral("box"), b.outerLabel},
                                {QStringLiteral("station"), b.station},
                                {QStringLiteral("written"), b.writtenAt},
                                {QStringLiteral("packs"), double(b.packs)},
                                {QStringLiteral("afterEnd"), b.afterEnd}});
    return QJsonObject{{QStringLiteral("batch"), batch}, {QStringLiteral("boxes"), rows}};
}

QJsonObject lookupJson(const QString &query, const std::vector<packlocations::Location> &found, const std::vector<HistoryEntry> &history)
{
    QJsonArray story;
    for (const HistoryEntry &h : history)
        story.append(QJsonObject{
            {QStringLiteral("event"), changekind::shown(h.event)},
            {QStringLiteral("at"), QDateTime::fromSecsSinceEpoch(h.at).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))},
            {QStringLiteral("station"), h.station},
            {QStringLiteral("outerLabel"), h.outerLabel},
            {QStringLiteral("middleLabel"), h.middleLabel},
            {QStringLiteral("barcode"), h.barcode},
            {QStringLiteral("person"), h.person},
            {QStringLiteral("reason"), h.note.isEmpty() ? h.reason : h.reason + QStringLiteral("：") + h.note},
        });
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
            {QStringLiteral("lotPacks"), l.lotPacks},
        });
    return QJsonObject{{QStringLiteral("query"), query}, {QStringLiteral("found"), rows}, {QStringLiteral("history"), story}};
}

} // namespace board
