#pragma once

#include "platform/Database.h"
#include "plant/Outbox.h"
#include "station/ports/PlantHandoff.h"
#include "plant/PackConflicts.h"

#include <QDateTime>
#include <QString>
#include <functional>
#include <vector>
#include <memory>
#include <optional>

// Takes the outbox to the plant record: oldest box first, in transactions of up to
// 50 boxes; a box already there (delivered once before a crash, before the outbox
// was compacted) is stored once. Reports the station's state with each delivery.
// Runs on a thread of its own, never on the window's: a database that is down or
// stopped costs it a timeout, never the operator a wait.
class PlantSender
{
public:
    using Conflict = PackConflict;

    struct Report
    {
        bool recorded = false; // everything delivered, the server answering
        int backlog = 0;       // boxes still waiting
        int sent = 0;          // boxes taken from the outbox by this delivery
        QString why;           // why not, when not
        // The database lacks the schema or holds a newer one: only a person can mend
        // that, and the operator is told once.
        bool schemaUnusable = false;
        // The outbox cannot be read: told once, and nothing is sent from it.
        bool outboxDamaged = false;
        // Found while delivering, each once: the station is told.
        std::vector<Conflict> conflicts;
        // Outer labels of the boxes the record refused for good, set aside in
        // outbox.refused.txt so that the boxes after them go on.
        QStringList refused;
        // Seconds this station's clock is ahead of the server's (negative: behind),
        // measured at this report; nothing when the server was not reached.
        std::optional<int> clockSkew;
    };

    // The clock is the station's (tests set it apart from the server's). The interrupt,
    // when given, ends any wait for the server at once (the delivery then fails).
    PlantSender(QString url, QString station, Outbox &outbox, int answerSeconds = 10,
                std::function<QDateTime()> clock = &QDateTime::currentDateTime, const database::Interrupt *interrupt = nullptr);
    ~PlantSender();

    // Every pack of a delivered box that an earlier box holds is recorded as a conflict,
    // whatever the station's settings: a pack is in one box, or a person is told on the
    // board. Two stations delivering the same pack at once take turns on it, so the
    // second always sees the first.

    // Connects when needed, delivers what waits, says where things stand; never raises.
    Report deliver(const OpenBoxReport &packing = {});

    // Brings the record level with the station's workbooks: of these boxes (read from
    // them), every one the record lacks at its place (this station, workbook, first
    // row) is delivered. Never raises.
    struct Levelled
    {
        int delivered = 0;
        QString why; // "" when the record is level but for the boxes it refuses
        std::vector<Conflict> conflicts;
        QStringList refused; // the boxes it refused, each named with why
    };
    Levelled bringLevel(const std::vector<Outbox::Entry> &boxes);

    // The boxes set aside as refused, offered again (the schema may have changed);
    // those taken leave outbox.refused.txt. Never raises.
    struct Retried
    {
        int delivered = 0;
        QString why;
        std::vector<Conflict> conflicts;
    };
    Retried retryRefused();
    static QString refusedFileName() { return QStringLiteral("outbox.refused.txt"); }

    // Every conflict of this station's boxes nobody has decided on yet, oldest first;
    // raises when the record cannot be asked.
    std::vector<Conflict> openConflicts();

private:
    void connectIfNeeded();
    // A box the server refuses for good, and why.
    struct Refusal
    {
        Outbox::Entry box;
        QString why;
        QString named() const;
    };
    // Boxes in one transaction; when the server refuses one of them for good, each
    // alone, and the refused ones are left out. How many were stored.
    int deliverAround(const Outbox::Entry *first, size_t count, std::vector<Conflict> &found, std::vector<Refusal> &refused);
    QStringList refusedLabels() const;
    // Boxes in one transaction: all stored, or none; how many were not there before.
    int deliverBoxes(const Outbox::Entry *first, size_t count, std::vector<Conflict> &found);
    // Within that transaction, how many were stored now: all at once from the GS1 version on, else one by one.
    int insertTogether(const Outbox::Entry *first, size_t count, std::vector<Conflict> &found);
    int insertGroup(const Outbox::Entry *first, size_t count, std::vector<Conflict> &found);
    int insertOneByOne(const Outbox::Entry *first, size_t count, std::vector<Conflict> &found);

    QString m_url;
    QString m_station;
    std::function<QDateTime()> m_clock;
    Outbox &m_outbox;
    Outbox m_refused; // boxes the record refused for good
    int m_answerSeconds;
    const database::Interrupt *m_interrupt;
    int m_schemaVersion = 0; // of the connected database
    std::unique_ptr<database::Connection> m_db;
};
