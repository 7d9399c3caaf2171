#pragma once

#include "labels/Label.h"
#include "settings/StationSettings.h"
#include "station/LabelHandoff.h"

#include <QString>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

// The station's labels on their way to the printer. Each label is first kept on disk
// (one file per label in the program folder's labels/), then handed to the print
// system on a thread of its own, and its file removed once the print system holds
// the job. The job's title names the label: one found under that title after a
// restart is not handed over again, so a crash never prints a label twice. A print
// system that is down, hung or has no such queue changes only the print line; the
// labels wait and go once it answers.
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
    void reprintLast() override;
    QString stateLine() const override;
    QString misfit(const PackingState &job) const override;

    // Labels kept on disk and not yet handed over.
    int waiting() const;
    // Kept labels that are no label (damaged, edited): set aside, told once.
    static constexpr const char *kFolder = "labels";

private:
    struct Kept
    {
        QString path;
        QString title;
        qint64 added = 0;
        Label label;
    };

    void keep(const QString &key, const Label &label);
    void run();
    std::vector<Kept> readKept();
    void handOver(const Kept &k);
    void watchJobs();
    QString folder() const;
    void setState(const QString &line);

    Options m_options;
    mutable std::mutex m_lock;
    std::condition_variable m_wake;
    bool m_stop = false;
    bool m_added = false;
    QString m_state;
    std::optional<Label> m_lastOuter;
    std::vector<std::pair<int, QString>> m_watched; // jobs handed over, until done: id and label
    std::thread m_thread;
};

} // namespace labels
