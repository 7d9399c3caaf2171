#pragma once

#include "plant/Outbox.h"
#include "station/ports/BatchSource.h"
#include "station/ports/DuplicateQuestion.h"
#include "station/ports/OperatorLogin.h"
#include "station/ports/PlantHandoff.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>
#include <thread>

// The plant record as the station sees it. A box written to its workbook goes into
// the outbox (on disk before handOver returns); a thread of its own takes the
// outbox to the database oldest first, reconnects with back-off, and reports the
// station's state with each delivery and at least once a minute. Nothing here waits
// for the database on the caller's thread, and ending the program never waits for
// it either: what was not delivered stays in the outbox for the next run. A station
// that packs batches learns from it how the batch it follows stands, every few seconds
// while the record answers.
class PlantLink : public PlantHandoff, public BatchSource, public OperatorLogin
{
public:
    struct Options
    {
        QString url;
        QString station;
        int answerSeconds = 10;    // the longest the thread waits for one answer
        int heartbeatSeconds = 30; // the state is reported at least this often
        int longestPauseSeconds = 30; // back-off ceiling between failed tries
        // The station refuses repeats ([cf] cf=0): its operator is told of its boxes'
        // conflicts. The record has them either way, on the board.
        bool tellConflicts = false;
        bool gs1Packs = false;        // [gs1] scans = 1: workbook cells read back as GS1 packs
        int maxClockSkewSeconds = 60; // a clock further from the server's is told in red
        int batchSeconds = 3;         // the batch followed is asked for this often while recorded
        int offlineHours = 12;        // an operator who logged in here this recently may log in offline
        std::function<QDateTime()> clock = &QDateTime::currentDateTime; // the station's
    };

    // Where the record stands, for the status panel.
    struct State
    {
        enum Kind { Connecting, Recorded, Offline };
        Kind kind = Connecting;
        int backlog = 0;
        QString why;         // why offline
        QDateTime delivered; // when the last delivery succeeded
        QDateTime lastBox;   // when a box last reached the record; invalid before the first
        int attempts = 0;    // deliveries tried since the start
        int conflicts = 0;   // packs of this station's boxes found in an earlier box, since the start
        int levelled = 0;    // boxes of the workbooks the record lacked, delivered since the start
        QStringList refused; // outer labels of the boxes the record refuses for good
        QDateTime levelledAt; // when the record was last compared with the workbooks
        std::optional<int> clockSkew; // seconds this station's clock is ahead of the server's
    };

    PlantLink(const QString &programFolder, Options options);
    ~PlantLink() override;
    PlantLink(const PlantLink &) = delete;
    PlantLink &operator=(const PlantLink &) = delete;

    void handOver(const Box &box, const ExportReceipt &receipt) override;
    void expect(const QString &workbook, int32_t firstRow) override;
    void packing(const OpenBoxReport &box) override;
    void onDuty(const QString &id) override;
    // 中央记录：… and, when this station's boxes hold packs found in an earlier box, their count.
    QString stateLines() const override;
    // A damaged outbox, a database without the schema or with a newer one.
    QString takeNotice() override;
    // A clock too far from the server's.
    QString alarm() const override;
    // Asked on a thread of its own, at most answerSeconds (10 when unbounded); nothing
    // at once while the record is offline, and when it does not answer.
    std::optional<QString> recordedUse(const QString &outerLabel) override;

    // Asked on a thread of its own, at most answerSeconds (5 at most to connect).
    Offer startable(const QString &line, const QString &also) override;
    void follow(const Batch &batch) override;
    std::optional<Batch> followed() const override;

    // Asked on a thread of its own (5 s at most to connect); offline against operators.txt.
    Result logIn(const QString &id, const QString &password) override;

    // Makes the plant-wide duplicate check's questions, each on a connection of its own.
    std::function<std::unique_ptr<DuplicateQuestion>()> questions() const;

    State state() const;
    static QString stateLine(const State &state);
    const QString &station() const { return m_station; }

private:
    struct Shared;
    static void run(Shared &shared);

    QString m_station;
    std::shared_ptr<Shared> m_shared;
};
