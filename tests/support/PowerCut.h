#pragma once

#include "platform/FileTrace.h"

#include <QByteArray>
#include <QRandomGenerator>
#include <QString>
#include <QStringList>
#include <map>
#include <mutex>
#include <vector>

// The disk of a folder as a power cut may leave it. While a PowerCut lives, every
// change the platform layer makes under the folder is recorded; afterwards a Replay
// walks that record change by change and, at each cut, lists the states the disk may
// be in and writes any of them into a fresh folder:
//  - data a file had on disk (fsync/fdatasync) stays;
//  - of its later writes any prefix is kept, the last kept one torn sector by sector
//    (512-byte units);
//  - a new name, a rename, a removal or a new folder stays only once its folder was
//    synced, else it may or may not have happened, each on its own.
// What the folder holds when recording starts counts as on disk.
class PowerCut
{
public:
    explicit PowerCut(const QString &root);
    ~PowerCut();
    PowerCut(const PowerCut &) = delete;
    PowerCut &operator=(const PowerCut &) = delete;

    // Stops recording (the destructor does too).
    void stop();
    // A note between changes, e.g. that a pack was listed: it holds for every cut after it.
    void note(const QString &what);

    // One recorded change, or a note.
    struct Step
    {
        filetrace::Event event; // paths relative to the folder
        QString note;           // non-empty: a note, not a change
    };
    const std::vector<Step> &steps() const { return m_steps; }
    // Changes recorded; the cuts are 0 (before the first) to changes() (after the last).
    int changes() const;

    // The initial folder: relative path to content; folders end in '/'.
    const std::map<QString, QByteArray> &initial() const { return m_initial; }
    const std::map<QString, uint64_t> &initialInodes() const { return m_initialInodes; }

private:
    void record(const filetrace::Event &e);

    QString m_root;
    std::mutex m_lock;
    std::vector<Step> m_steps;
    std::map<QString, QByteArray> m_initial;
    std::map<QString, uint64_t> m_initialInodes;
    bool m_recording = true;
};

// The record replayed up to a cut, and the disks it allows there.
class PowerCutReplay
{
public:
    explicit PowerCutReplay(const PowerCut &record);

    // Moves to the cut after the next change; false at the end.
    bool next();
    int cut() const { return m_cut; }
    // What the change before this cut was, as a line for a failure message.
    QString lastChange() const;
    // Every note before this cut, oldest first.
    const QStringList &notes() const { return m_notes; }

    // One state of the disk: for each file with unsynced writes, how much of them is
    // kept; for each unsynced folder change, whether it happened.
    using Choice = std::vector<int>;
    // All the states when there are at most `most`; else `most` of them: everything
    // kept, nothing kept, everything but one change kept, and the rest drawn with `random`.
    std::vector<Choice> states(int most, QRandomGenerator &random) const;
    // How many states there are in all (capped at a billion).
    double stateCount() const;
    // Writes that state of the disk into `folder` (which must exist, empty).
    void write(const Choice &choice, const QString &folder) const;

private:
    struct Change
    {
        bool truncate = false;
        int64_t offset = 0; // the new size for a truncate
        QByteArray data;
        int sectors() const;
    };
    struct File
    {
        QByteArray durable;
        std::vector<Change> pending;
    };
    struct Entry
    {
        bool folder = false;
        int file = -1;
    };
    struct NameChange
    {
        filetrace::Event::Kind kind;
        QString path, to, parent;
        int file = -1;
    };
    void apply(const filetrace::Event &e);
    int fileOf(uint64_t inode) const;
    static void applyChange(QByteArray &content, const Change &c, int sectors);
    static void applyName(std::map<QString, Entry> &names, const NameChange &c);
    std::vector<int> options() const;

    const PowerCut &m_record;
    size_t m_next = 0;
    int m_cut = 0;
    QStringList m_notes;
    QString m_lastChange;
    std::vector<File> m_files;
    std::map<uint64_t, int> m_inodes;
    std::map<QString, Entry> m_durable; // names on disk
    std::map<QString, Entry> m_live;    // names as the program sees them
    std::vector<NameChange> m_pendingNames;
};
