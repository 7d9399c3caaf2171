#pragma once

#include "packing/PackingJob.h"
#include "platform/DurableLog.h"
#include "packing/Box.h"

#include <QDateTime>
#include <QMutex>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QUuid>
#include <functional>
#include <optional>
#include <vector>

// Boxes written to the workbook and waiting for the plant record: outbox.txt in the
// program folder, the same durability as the open-box journal (each box on disk,
// fdatasync'd, before add() returns; a torn last box skipped; a damaged file told,
// never overwritten). Delivered boxes leave through an atomic rewrite. A person can
// read it:
//
//   box 6f1c3a52-1d3e-4d0a-9c51-0b1a2c3d4e5f 2026-12-07T10:00:05 14 20261207.xls
//   station line3-a
//   job 2 10 3 3 Z  W
//   outer W001
//   middle Z001
//   pack A00001
//   pack (01)09501101530003(21)7A1B2C
//   gs1 01 09501101530003 21 7A1B2C
//   end
//
// A GS1 pack's row is followed by its fields, AI and data by turns. The id is the
// box's own, given once when it is written; the plant record stores a box once
// however often it is delivered. Safe to use from the window's thread and the
// sender's at once.
class Outbox
{
public:
    struct Entry
    {
        QUuid id;
        QString station;
        QString workbook;   // file name in files/
        int32_t firstRow = 0;
        QDateTime writtenAt;
        std::optional<PackingJob> job;
        std::vector<BoxRow> rows;
        QString writtenBy;   // the operator on duty when it was written; "" where nobody logs in
        QStringList operators; // every operator who scanned into it

        bool operator==(const Entry &o) const = default;
        // Where its station wrote it, as one key (see placeOf).
        QString place() const { return placeOf(workbook, firstRow); }
    };

    // A box's place in its station's workbooks, as one key: the workbook and the first row.
    static QString placeOf(const QString &workbook, int32_t firstRow)
    {
        return workbook + QLatin1Char('\n') + QString::number(firstRow);
    }

    static QString fileName();

    explicit Outbox(const QString &programFolder, const QString &name = fileName());

    // Appends the box; raises a RuntimeError, leaving the file as it was, when it cannot.
    // The first add of a run first drops a box that a crash tore, so that no box is
    // ever appended to a torn one. A file that changed since the station last wrote
    // it (cut, edited, moved away, a pipe put in its place) is set aside, and the box
    // starts a fresh one; takeChanges() then says so.
    void add(const Entry &entry);
    // What add() found changed under the station since the last call, as the operator reads it.
    QStringList takeChanges();
    // Every whole box in the file, oldest first; none when there is no file. Raises a
    // RuntimeError naming the line when the file is damaged (a torn last box is not).
    std::vector<Entry> pending() const;
    // The oldest boxes, at most limit of them, and how many whole boxes wait in all.
    struct Batch
    {
        std::vector<Entry> entries;
        int total = 0;
    };
    Batch oldest(size_t limit) const;
    // The file without these boxes, replaced in one step.
    void remove(const QSet<QUuid> &delivered);
    // A file that cannot be read is renamed out of the way (outbox.damaged-….txt, its
    // name returned) and a new one begins; "" when it reads or does not exist.
    // Raises when it can be neither read nor renamed.
    QString setAsideIfDamaged();

    const QString &path() const { return m_path; }

private:
    // Where each whole box's lines are in the file.
    struct Span
    {
        QUuid id;
        qsizetype from = 0;
        qsizetype to = 0;
    };
    struct Parsed
    {
        std::vector<Entry> entries; // the first whole boxes, up to the limit
        std::vector<Span> spans;    // every whole box
        bool torn = false;          // something follows the last whole box
    };
    // The file read and checked whole; its bytes into *content when asked. Raises
    // a RuntimeError naming the line when it is damaged.
    Parsed parse(size_t limit, QByteArray *content = nullptr) const;
    // The whole boxes that keep() wants, behind the header, replaced in one step.
    void rewriteKeeping(const std::function<bool(const QUuid &)> &keep);

    QString m_path;
    mutable QMutex m_lock;
    DurableLog m_log;
    bool m_tailChecked = false;
    QStringList m_changes;
};
