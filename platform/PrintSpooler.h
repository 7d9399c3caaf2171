#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

// The plant's print system (CUPS) as the labels need it: a PDF handed to a named
// queue becomes a job; a job is found again by its title, finished or not, so that a
// label handed over just before a crash is not handed over twice. Every call waits
// at most a few seconds for the print system and raises a RuntimeError
// (PrintFailed) with a plain reason in Chinese.
namespace printing {

enum class JobState { Waiting, Printing, Held, Done, Failed };

struct Job
{
    int id = 0;
    JobState state = JobState::Waiting;
    QString reason; // when failed: the print system's words
};

// The new job's id.
int submit(const QString &queue, const QString &title, const QByteArray &pdf);
// The newest job of that title on the queue, also among finished ones.
std::optional<Job> findByTitle(const QString &queue, const QString &title);
std::optional<Job> find(const QString &queue, int id);

} // namespace printing
