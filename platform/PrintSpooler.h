#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

// The plant's print system (CUPS) as the labels need it: a PDF handed to a named
// queue becomes a job; a job is found again by its id or by its title, finished or
// not. A job's id alone never identifies a label: a print system that lost its state
// gives the same ids to new jobs, so callers compare the title they gave. Every call
// waits at most a few seconds for the print system and raises a RuntimeError
// (PrintFailed) with a plain reason in Chinese.
namespace printing {

enum class JobState { Waiting, Printing, Held, Done, Failed };

struct Job
{
    int id = 0;
    JobState state = JobState::Waiting;
    QString title;
    int documents = -1;  // how many documents the job holds; -1 when the print system did not say
    QString reason;      // when failed or held: the print system's words
};

// The new job's id. The job and its document go in one request: the print system
// makes a job only once the whole document arrived.
int submit(const QString &queue, const QString &title, const QByteArray &pdf);
// The job with that id, whoever made it; none when the print system no longer lists it.
std::optional<Job> job(const QString &queue, int id);
// The newest job of that title on the queue, also among finished ones.
std::optional<Job> findByTitle(const QString &queue, const QString &title);
// Cancels a job (one that can never print, such as one left without its document).
void cancel(const QString &queue, int id);

} // namespace printing
