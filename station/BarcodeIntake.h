#pragma once

#include "platform/ProgramEnvironment.h"
#include "platform/Sound.h"
#include "packing/Box.h"
#include "station/ports/BoxExport.h"
#include "station/files/DayIndex.h"
#include "station/ports/DuplicateQuestion.h"
#include "packing/Gs1Rules.h"

#include <QDate>
#include <QDateTime>
#include <functional>
#include <QString>
#include <cstdint>
#include <optional>

class MessageBox;
class PlantHandoff;
struct PackingState;
class LabelHandoff;

// Turns one received scan text into rows of the open box under outer-box and
// middle-box label rows, and hands every full outer box to the export.
class BarcodeIntake
{
public:
    static const QString kWrongLength;
    static const QString kDuplicate;
    static const QString kControlCharacter;
    static const QString kUndecodable;
    static const QString kNotOneScan;
    static const QString kEndOfLot;
    static const QString kBatchHeld;  // the batch is held: no pack goes in until it is resumed
    static const QString kBatchEnded; // the batch ended or was aborted
    static const QString kLocked;     // the scan window is locked: nobody is logged in
    static const QString kNothingToClose;

    // Sounds and the clock default to the operator's and the system's (logic tests
    // that do not listen or set the time).
    BarcodeIntake(PackingState &state, Box &box, MessageBox &messages, BoxExport &boxExport,
                  SoundPlayer &sounds = operatorSounds(), std::function<QDateTime()> clock = program::now);

    // One scan as read from the port, and how many characters a full receive buffer
    // dropped before it. A scan is listed whole or not at all: a refusal or a failure
    // (raised as a RuntimeError) leaves the box and the running numbers as they were.
    // Only the export of a full box can fail after the scan is listed.
    void receive(const QString &text, qint64 dropped = 0);
    // The same from the port's bytes, decoded with the scanner's encoding. Bytes that
    // do not decode are refused as a whole, named byte by byte.
    void receiveBytes(const QByteArray &bytes, qint64 dropped = 0);
    // How the scanner's bytes are read: GB18030 (the default), UTF-8 or ISO-8859-1.
    void setEncoding(const QByteArray &encoding) { m_encoding = encoding; }

    // Scans are GS1 element strings: no fixed length, known by their GTIN and serial,
    // one product, lot and expiry per box, at least shelfDays of shelf life left.
    void takeGs1Scans(bool on, int shelfDays)
    {
        m_gs1 = on;
        m_shelfDays = shelfDays;
    }
    bool takesGs1Scans() const { return m_gs1; }

    // F8: the open box, with fewer packs than its size, written as it is once the
    // operator confirms; the next pack opens a new box. Told when the box holds no
    // pack. Raises as the export of a full box does, the box then waiting for it.
    void closeShortBox();

    // A box put back from the journal that is already full goes out at once; a
    // failure raises and leaves it pending for the next scan.
    void exportIfFull();

    Box &box() { return m_box; }
    const Box &box() const { return m_box; }
    int16_t iInnerCount() const { return m_box.iInnerCount(); }

    // Whether the last receive() left its barcode in the list.
    bool lastScanListed() const { return m_lastScanListed; }
    bool exportPending() const { return m_box.exportPending(); }
    // The last export that succeeded, if any.
    const std::optional<ExportReceipt> &lastExport() const { return m_lastExport; }

    QString sCfMode;
    // With the duplicate check on, also refuse what the day's earlier boxes hold.
    void checkWholeDay(DayIndex *index) { m_dayIndex = index; }
    // With the duplicate check on, also ask the plant record, waiting for its answer at
    // most budgetMs through pause(ms), which keeps the window alive. Without an answer
    // in time the scan is checked here alone (its box and, when set, the day).
    void checkWholePlant(DuplicateQuestion *check, int budgetMs, std::function<void(int)> pause)
    {
        m_plantCheck = check;
        m_plantBudgetMs = budgetMs;
        m_pause = std::move(pause);
    }
    // Every written box also goes there before it leaves the list (nullptr: nowhere).
    void handOverWrittenBoxesTo(PlantHandoff *plant) { m_plant = plant; }
    void printLabelsWith(LabelHandoff *labels) { m_labels = labels; }
    // Every refused scan also goes to that folder's refused-yyyymmdd.txt ("": nowhere).
    void recordRefusalsIn(const QString &filesFolder) { m_refusalFolder = filesFolder; }
    // The operator on duty ("": nobody logs in): named in every box he scans into and every
    // refusal on record.
    void setOperatorOnDuty(const QString &id) { m_onDuty = id; }
    // Locked: every scan is refused until an operator logs in again.
    void setLocked(bool locked) { m_locked = locked; }
    bool locked() const { return m_locked; }
    // A scan whose handling failed before it was listed, on record the same way;
    // returns what to add to the operator's message when it could not be written.
    QString recordFailedScan(const QString &text) { return recordRefusal(kHandlingFailed, text).problem; }
    static const QString kHandlingFailed;
    // Bytes that waited on the line before the port was opened, thrown away: on record, not told.
    void recordDiscarded(qint64 bytes) { recordRefusal(kDiscarded, QStringLiteral("%1 个字节").arg(bytes)); }
    static const QString kDiscarded;
    // The next outer box's SSCC would not fit the digits its prefix leaves.
    static const QString kSsccUsedUp;

private:
    // The pack a scan holds, or nothing when it was refused (and told).
    std::optional<Pack> packOf(const QString &text, qint64 dropped);
    std::optional<Pack> gs1PackOf(const QString &text, qint64 dropped);
    // The pack goes into the box, unless a rule of the box refuses it.
    void take(const QString &text, const Pack &pack);
    // Why a GS1 pack may not go into this box; "" when it may.
    gs1rules::PackRefusal gs1Refusal(const Pack &pack) const;
    // Told, on record and sounded: reason (its first line on record) and what follows it.
    void refuse(const QString &reason, const QString &details, const QString &text);
    // Where a repeated barcode already is: this box (no earlier) or an earlier box of the day.
    struct DuplicateAt
    {
        std::optional<DayIndex::Where> earlier;
        std::optional<DuplicateQuestion::Where> plant; // in another station's box, or an earlier one of this
    };
    std::optional<DuplicateQuestion::Where> askPlant(const Pack &pack);
    std::optional<DuplicateAt> findRepeat(const Pack &pack);
    // The refusal written to the day's record: the file as the operator reads it, or
    // what to add to the message when it could not be written.
    struct Recorded
    {
        QString file;
        QString problem;
    };
    // bytes: text holds one character per byte, each beyond ASCII written as \xHH.
    Recorded recordRefusal(const QString &reason, const QString &text, bool bytes = false);
    // The rows and numbers the scan of this barcode brings; raises on an overflow.
    BoxChange changeFor(const Pack &pack) const;
    void exportFullBox();
    DayIndex &dayIndexFor(const QDate &day);

    PackingState &m_state;
    Box &m_box;
    MessageBox &m_messages;
    BoxExport &m_export;
    SoundPlayer &m_sounds;
    std::function<QDateTime()> m_clock;
    bool m_lastScanListed = false;
    std::optional<ExportReceipt> m_lastExport;
    DayIndex *m_dayIndex = nullptr;
    QString m_refusalFolder;
    bool m_locked = false;
    QString m_onDuty;
    // The middle label the last listed pack is under.
    QString middleOfLastPack() const;

    PlantHandoff *m_plant = nullptr;
    LabelHandoff *m_labels = nullptr;
    DuplicateQuestion *m_plantCheck = nullptr;
    int m_plantBudgetMs = 0;
    std::function<void(int)> m_pause;
    QByteArray m_encoding = "GB18030";
    bool m_gs1 = false;
    int m_shelfDays = 0;
};
