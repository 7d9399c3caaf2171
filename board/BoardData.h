#pragma once

#include "board/BoardDecisions.h"
#include "board/BoardHistory.h"
#include "board/BoardSnapshot.h"
#include "plant/Batches.h"
#include "station/ports/OperatorLogin.h"
#include "plant/PackLocations.h"
#include "plant/Rework.h"

#include <QString>
#include <memory>
#include <optional>
#include <vector>

namespace database {
class Connection;
}

// What the board shows, read from the plant record through the role zantrel_reader;
// the one write, a supervisor's decision on a conflict, goes in through the role
// zantrel_supervisor. A failed statement drops the connection, and the next call
// connects again: a server that came back is read again without a restart.
namespace board {

class BoardData
{
public:
    // Reads from url (a standby will do); decisions and changes go to writeUrl ("" : url).
    BoardData(QString url, int idleMinutes, int answerSeconds = 5, QString writeUrl = QString());
    ~BoardData();

    // Raise a RuntimeError with the server's words when the record cannot be read.
    Snapshot snapshot(qint64 localMidnight);
    std::vector<packlocations::Location> lookup(const QString &text);
    DecisionResult decide(const Decision &d);
    // A supervisor's or QA's password checked against the record (the try recorded there);
    // raises a RuntimeError in plain words when it does not hold.
    OnDuty logIn(const QString &id, const QString &password);
    // Whether the record has operators: then every decision is signed.
    bool hasOperators();
    // Every event of the packs with this barcode, or of the boxes with this outer label,
    // in order; empty on a record without changes.
    std::vector<HistoryEntry> history(const QString &query);
    // Every box of the batch, with its packs now; none on a record without batches.
    std::vector<batches::BatchBox> batchBoxes(const QString &batch);
    // A change as rework::record makes it, through the board's login; its id.
    // signedBy: the 工号 who signed it, once the record has operators.
    qint64 rework(const rework::Change &change, const QString &signedBy = {});


private:
    database::Connection &db();
    // Where writes go: the reading connection, or one of its own to the primary.
    database::Connection &writer();
    template <typename F>
    auto dropOnFailure(F &&f) -> decltype(f());
    template <typename F>
    auto readOnFreshOnFailure(F &&f) -> decltype(f());

    QString m_url;
    int m_idleMinutes;
    int m_schemaVersion = 0;
    bool m_supervisor = false;
    bool m_rework = false;
    bool m_company = false;
    int m_answerSeconds;
    std::unique_ptr<database::Connection> m_db;
    QString m_writeUrl;
    std::unique_ptr<database::Connection> m_writer;
};

} // namespace board
