#pragma once

#include <QString>
#include <cstdint>

class BoxExport;
class MessageBox;
class RecordGrid;
struct PackingState;

// Turns one received scan text into list rows under outer-box and middle-box
// label rows, and hands every full outer box to the export.
class BarcodeIntake
{
public:
    static const QString kWrongLength;
    static const QString kDuplicate;
    static const QString kControlCharacter;

    BarcodeIntake(PackingState &state, RecordGrid &grid, MessageBox &messages, BoxExport &boxExport);

    // One scan as read from the port, and how many characters a full receive buffer
    // dropped before it. Failures raise a RuntimeError; rows already added stay.
    void receive(const QString &text, qint64 dropped = 0);

    // Empties the list and the pack count together (and forgets a pending export).
    void emptyBox();

    // Whether the last receive() left its barcode in the list.
    bool lastScanListed() const { return m_lastScanListed; }
    // A full box whose export failed and is retried by the next accepted scan.
    bool exportPending() const { return m_exportPending; }

    int16_t iInnerCount = 0;
    QString sCfMode;

private:
    void appendOuterLabelRow();
    void appendMiddleLabelRow();
    bool repeatsEarlierBarcode(const QString &barcode) const;
    void exportFullBox();

    PackingState &m_state;
    RecordGrid &m_grid;
    MessageBox &m_messages;
    BoxExport &m_export;
    bool m_lastScanListed = false;
    bool m_exportPending = false;
};
