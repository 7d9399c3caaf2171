#pragma once

#include "core/RuntimeError.h"
#include "station/BarcodeIntake.h"
#include "packing/Box.h"
#include "station/BoxJournal.h"
#include "station/files/DayIndex.h"
#include "station/ports/DuplicateQuestion.h"
#include "station/ports/OperatorLogin.h"
#include "station/ScannerLink.h"
#include "wait/clsWait.h"

#include <QDateTime>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

class BatchSource;
class OperatorLogin;
class BoxExport;
class MessageBox;
class LabelHandoff;
class PlantHandoff;
class RecordGrid;
class SoundPlayer;
struct PackingState;
namespace settings {
struct ScanSettings;
}

// One opening of the scan window, without its widgets: the open box and its
// journal, barcode intake, the day's index of barcodes, the scanner's line and
// one scan's handling from the port's event to the list, and why a full box waits.
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
        PlantHandoff *plant = nullptr; // the plant record, when there is one
        // Asks the plant record about a barcode, for the plant-wide duplicate check.
        std::function<std::unique_ptr<DuplicateQuestion>()> plantQuestions = {};
        LabelHandoff *labels = nullptr; // the label printer, when there is one
        // The station's name where config.ini gives one or a plant record knows it; "" otherwise.
        QString stationName = {};
        // The plant's batches, when the station packs the batches of a line ([batch] line).
        BatchSource *batches = nullptr;
        QString batchLine = {};
        // Operators log in at Start and with F12 ([operators] required), when there is a record.
        OperatorLogin *operators = nullptr;
        int lockAfterMs = 15 * 60 * 1000; // the scan window locks after this long without a scan or a key
    };

    explicit ScanSession(const Parts &parts);
    ScanSession(const ScanSession &) = delete;
    ScanSession &operator=(const ScanSession &) = delete;

    // The settings the scan window read: the duplicate check and its scope, the
    // settle wait; refused scans go on record in files/. With the plant-wide check,
    // a scan waits for the plant record through pause(ms) (default: the settle
    // wait's waiter, which keeps the window alive).
    void configure(const settings::ScanSettings &read, std::function<void(int)> pause = {});
    // The box a journal kept (restored row for row with its job, and exported at
    // once when full), or an empty one. Either way the journal starts afresh with it
    // and the running numbers as they now stand. A failure is told and returns
    // false: the box is then empty and the journal as it was.
    bool startBox(const std::optional<BoxJournal::Saved> &kept);

    // Opens scanner port n. What waited on the line before is not a scan of this
    // session: it is thrown away, and how much goes on the refusal record.
    void openPort(int16_t number);
    // The port's event: a scan is waited for (the settle time), read and taken in;
    // a failure on the way is told, put on record and the port opened afresh.
    void MSComm1_OnComm();
    // F8: the open box closed short and written, once the operator confirms. A scan
    // that comes meanwhile waits on the line and is taken in afterwards; a failure
    // is told and the box waits for its export like a full one.
    void closeShortBox();
    // Whether a scan is being handled further up the call chain (in its wait or a message).
    bool handlingScan() const { return m_handlingScan; }
    // One scan as read from the port; raises as intake does.
    void receive(const QString &text, qint64 dropped) { m_intake.receive(text, dropped); }
    // A failed scan's handling: when the full box waits for its export, this is why.
    void noteFailure(const RuntimeError &error);
    // The batch packed as the record last told of it (held, ended, its count); and the
    // batch Start took, on record for a restart without the record. A failure of the
    // journal is told.
    void refreshBatch();
    void takeBatch(const Batch &batch);
    // The operator on duty from now on (none: nobody logs in); the open box goes on.
    void setOperator(const std::optional<OnDuty> &who);
    const std::optional<OnDuty> &onDuty() const { return m_onDuty; }
    OperatorLogin *operators() { return m_parts.operators; }
    int lockAfterMs() const { return m_parts.lockAfterMs; }

    Box &box() { return m_box; }
    BarcodeIntake &intake() { return m_intake; }
    ScannerLink &link() { return m_link; }
    PlantHandoff *plant() { return m_parts.plant; }
    LabelHandoff *labels() { return m_parts.labels; }
    BatchSource *batches() { return m_parts.batches; }
    const QString &stationName() const { return m_parts.stationName; }
    void showIn(RecordGrid *view) { m_box.setView(view); }

    // What the status panel shows of the box.
    struct Status
    {
        QString outerLabel;
        QString middleLabel; // the last middle label listed
        int packs = 0;
        int perOuter = 0;
        QString lastBox; // the last box written, or why the full one waits
        QString plantRecord; // where the plant record stands; "" without one
        QString alarm;       // what the operator must see at once, in red; "" when nothing
        QString print;       // where the labels stand; "" without a printer
        QString keys;        // the window's keys
        QString gtin, lot;   // of the box's first GS1 pack; "" when none
        QString batch;       // the batch packed, its lot and its count against plan; "" without one
        bool overPlan = false; // packed past the batch's plan: shown in red
        QString batchNumber;   // "" without a batch
        QString onDuty;        // the operator on duty; "" when nobody logs in
    };
    Status status() const;
    QString plantRecordLine() const;
    QString alarm() const;
    QString checkLine() const;

    // The settle wait before a scan is read, in milliseconds as config.ini holds it.
    QString Stime;

private:
    // A scan's handling failed; text is what was read ("" if nothing), listed whether it is in the list.
    void errorPath(const RuntimeError &error, const QString &text, bool listed);
    // The settle wait and the plant check share one waiter, made at its first use.
    clsWait &waiter();

    Parts m_parts;
    Box m_box;
    BoxJournal m_journal;
    BarcodeIntake m_intake;
    DayIndex m_dayIndex;
    ScannerLink m_link;
    std::unique_ptr<clsWait> m_waiter;
    std::unique_ptr<DuplicateQuestion> m_plantQuestion;
    bool m_wholePlant = false;
    bool m_handlingScan = false;
    QString m_exportFailure; // why the full box waits, while it does
    std::optional<OnDuty> m_onDuty;
};
