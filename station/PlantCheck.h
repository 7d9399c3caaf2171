#pragma once

#include <QString>
#include <cstdint>
#include <memory>
#include <optional>

// Asks the plant record whether a barcode is already in a box of any station, on a
// thread and a connection of its own. The caller waits for the answer as long as
// it can afford, and goes on without it: an answer that comes late is dropped, so
// nothing is decided twice.
class PlantCheck
{
public:
    struct Where
    {
        QString station;
        QString outerLabel;
        QString writtenAt; // as the database tells it
    };
    struct Answer
    {
        bool reached = false;        // the record answered
        std::optional<Where> found;  // where the pack already is, if anywhere
    };

    PlantCheck(QString url, int answerSeconds = 10);
    ~PlantCheck(); // never waits for the database
    PlantCheck(const PlantCheck &) = delete;
    PlantCheck &operator=(const PlantCheck &) = delete;

    // Asks about a barcode; the ticket fetches the answer. A question still open is
    // dropped.
    uint64_t ask(const QString &barcode);
    // The answer to that ticket, once there.
    std::optional<Answer> answer(uint64_t ticket) const;
    // Whether the last question was answered by the record in time (true before any).
    bool answeredInTime() const;
    void noteInTime(bool inTime);

private:
    struct Shared;
    static void run(std::shared_ptr<Shared> shared);
    std::shared_ptr<Shared> m_shared;
};
