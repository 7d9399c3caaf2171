#pragma once

#include "core/RuntimeError.h"
#include "station/BarcodeIntake.h"
#include "station/Box.h"
#include "station/BoxJournal.h"
#include "station/DayIndex.h"
#include "station/PlantLink.h"

#include <QDateTime>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

class BoxExport;
class MessageBox;
class RecordGrid;
class SoundPlayer;
struct PackingState;
namespace settings {
struct ScanSettings;
}

// One opening of the scan window, without its widgets: the open box and its
// journal, barcode intake, the day's index of barcodes, and why a full box waits.
class ScanSession
{
public:
    // What a session works with; built once, where the program builds its parts.
    struct Parts
    {
        QString programFolder;
        PackingState &state;
        BoxExport &boxExport;
        MessageBox &messages;
        SoundPlayer &sounds;
        std::function<QDateTime()> clock;
        PlantLink *plant = nullptr; // the plant record, when there is one
    };

    explicit ScanSession(const Parts &parts);
    ScanSession(const ScanSession &) = delete;
    ScanSession &operator=(const ScanSession &) = delete;

    // The settings the scan window read: the duplicate check and its scope; refused
    // scans go on record in files/.
    // With the plant-wide check, a scan waits for the plant record through pause(ms).
    void configure(const settings::ScanSettings &read, std::function<void(int)> pause = {});
    // The box a journal kept (restored row for row with its job, and exported at
    // once when full), or an empty one. Either way the journal starts afresh with it
    // and the running numbers as they now stand. A failure is told and returns
    // false: the box is then empty and the journal as it was.
    bool startBox(const std::optional<BoxJournal::Saved> &kept);
    // One scan as read from the port; raises as intake does.
    void receive(const QString &text, qint64 dropped) { m_intake.receive(text, dropped); }
    // A failed scan's handling: when the full box waits for its export, this is why.
    void noteFailure(const RuntimeError &error);

    Box &box() { return m_box; }
    BarcodeIntake &intake() { return m_intake; }
    PlantLink *plant() { return m_parts.plant; }
    void showIn(RecordGrid *view) { m_box.setView(view); }

    // What the status panel shows of the box.
    struct Status
    {
        QString outerLabel;
        QString middleLabel; // the last middle label listed
        int packs = 0;
        int perOuter = 0;
        QString lastBox; // the last box written, or why the full one waits
        QString plantRecord; // where the plant record stands
    };
    Status status() const;
    QString plantRecordLine() const;
    static QString plantStateLine(const PlantLink::State &state);
    QString checkLine() const;

private:
    Parts m_parts;
    Box m_box;
    BoxJournal m_journal;
    BarcodeIntake m_intake;
    DayIndex m_dayIndex;
    std::unique_ptr<PlantCheck> m_plantCheck;
    bool m_wholePlant = false;
    QString m_exportFailure; // why the full box waits, while it does
};
