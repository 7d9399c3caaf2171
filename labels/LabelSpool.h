#pragma once

#include "core/Worker.h"
#include "labels/KeptLabel.h"
#include "settings/StationSettings.h"
#include "station/ports/LabelHandoff.h"

#include <QHash>
#include <QString>
#include <chrono>
#include <mutex>
#include <optional>
#include <vector>

// The station's labels on their way to the printer. Each label is first kept on disk
// (one file per label in the program folder's labels/), then handed to the print
// system on a thread of its own; its file stays until the print system says the job
// completed. The job's title names the label: a label is known again by its title,
// never by the job's id alone (a print system that lost its state gives the same ids
// to other jobs), so a crash never prints a label twice and a lost job is handed over
// again. A print system that is down, hung or has no such queue changes only the
// print line; the labels wait and go once it answers. A label that cannot be kept
// on disk is printed from memory, and the print line says so until labels can be
// kept again.
namespace labels {

class LabelSpool : public LabelHandoff
{
public:
    struct Options
    {
        QString programFolder;
        QString station;
        settings::PrintSettings print;
        int retrySeconds = 5; // after a failed hand-over
    };

    explicit LabelSpool(Options options);
    ~LabelSpool() override;

    void boxWritten(const Box &box, const ExportReceipt &receipt) override;
    void middleFilled(const Box &box, const QString &middleLabel) override;
    // The label the print line names: the oldest that failed, else the last outer label printed.
    void reprintLast() override;
    QString stateLine() const override;
    QString misfit(const PackingState &job) const override;

    // Labels not yet printed: kept on disk (also those that failed) and only in memory.
    int waiting() const;
    static constexpr const char *kFolder = "labels";

private:
    enum class Outcome { Printed, OnItsWay, Failed, SetAside };

    void keep(const QString &key, const Label &label);
    bool writeKept(const QString &path, const Kept &k, QString *why);
    void run();
    void persistMemory();
    std::vector<Kept> readKept();
    bool pass();
    Outcome settle(Kept &k);
    Outcome handOver(const Kept &k);
    void rewrite(const Kept &changed);
    void recordJob(const Kept &k, int id);
    void finished(const Kept &k);
    void markFailed(const Kept &k, const QString &why);
    void drop(const Kept &k);
    QString folder() const;
    int waitingUnlocked() const;
    QString composeLine() const;

    Options m_options;
    bool m_added = false;
    // What the print line is made of (under the worker's lock).
    QString m_error;         // the print system's refusal in the last pass
    QString m_handingOver;   // the label whose hand-over this pass began and has no answer yet
    QString m_keepProblem;   // why labels could not be kept on disk; until one can be
    QString m_notice;        // a kept file set aside; until the next label is kept
    QStringList m_inFlight;  // handed over, not yet completed, oldest first
    std::optional<Label> m_lastDone;
    std::vector<Kept> m_failed;       // labels whose job failed, oldest first: F9 takes the first
    std::optional<Label> m_lastOuter; // the last outer label printed, for F9
    std::vector<Kept> m_memory;       // labels that could not be kept on disk
    QHash<QString, int> m_jobs;       // title -> job, also where the kept file could not say it
    qint64 m_lastAdded = 0;           // when the last label was kept, in ms: each later one is later
    std::chrono::steady_clock::time_point m_handedOver; // the last hand-over, on the printer's thread
    // The printer's thread; its lock guards what the station's thread and it share.
    mutable Worker m_worker;
};

} // namespace labels
