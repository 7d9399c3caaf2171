#pragma once

#include "station/ports/DuplicateQuestion.h"

#include <QString>
#include <cstdint>
#include <memory>
#include <optional>

// Asks the plant record whether a barcode is already in a box of any station, on a
// thread and a connection of its own.
class PlantCheck : public DuplicateQuestion
{
public:

    PlantCheck(QString url, int answerSeconds = 10);
    ~PlantCheck() override; // never waits for the database: the question in flight is given up
    PlantCheck(const PlantCheck &) = delete;
    PlantCheck &operator=(const PlantCheck &) = delete;

    uint64_t ask(const Pack &pack) override;
    std::optional<Answer> answer(uint64_t ticket) const override;
    bool answeredInTime() const override;
    void noteInTime(bool inTime) override;

private:
    struct Shared;
    static void run(Shared &shared);
    std::shared_ptr<Shared> m_shared;
};
