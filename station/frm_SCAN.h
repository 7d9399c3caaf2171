#pragma once

#include "core/RuntimeError.h"
#include "platform/SerialPort.h"
#include "platform/qt/QtRecordGrid.h"
#include "station/BarcodeIntake.h"
#include "station/Box.h"
#include "station/BoxJournal.h"
#include "station/DayIndex.h"
#include "wait/clsWait.h"

#include <QTimer>
#include <QWidget>
#include <memory>
#include <optional>

class BoxExport;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;
class StatusPanel;

// The scan window: the list of the current outer box and the scanner's port.
class frm_SCAN : public QWidget
{
    Q_OBJECT
public:
    // How often a vanished or unopenable scanner is looked for again.
    static constexpr int kReconnectIntervalMs = 1000;

    explicit frm_SCAN(BoxExport &boxExport, QWidget *parent = nullptr);
    ~frm_SCAN() override;

    // Runs once, before the window is first shown.
    void Form_Load();
    // After the load: the box a journal kept (restored row for row with its job,
    // and exported at once when full), or an empty one. Either way the journal
    // starts afresh with it and the running numbers as they now stand. A failure is
    // told and returns false: the box is then empty and the journal as it was.
    bool startBox(const std::optional<BoxJournal::Saved> &kept);
    void MSComm1_OnComm();
    // Closes the port if open and opens it; the failure, if any, is returned.
    std::optional<RuntimeError> OpenPort();

    int32_t iPort1 = 0;
    QString Stime;

    // The status panel again, after anything that changes what it shows.
    void refreshStatus();

    BarcodeIntake &intake() { return m_intake; }
    Box &box() { return m_box; }
    SerialPort &port() { return MSComm1; }
    QtRecordGrid &grid() { return m_grid; }
    // Fires at every attempt to find a vanished scanner again.
    const QTimer &reconnectTimer() const { return m_reconnect; }

protected:
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void buildControls();
    void errorPath(const RuntimeError &error);
    void reportPortProblem(const QString &what);
    void tryReconnect();
    void cmdCancel_Click();

    QLabel *lblTitle;
    QPushButton *cmdCancel;
    QLineEdit *Text1;
    QTableView *fg1;
    StatusPanel *m_status;
    QString m_exportFailure; // why the full box waits, while it does
    QtRecordGrid m_grid;
    SerialPort MSComm1;
    Box m_box;
    BoxJournal m_journal;
    BarcodeIntake m_intake;
    DayIndex m_dayIndex;
    std::unique_ptr<clsWait> m_waiter;
    QTimer m_reconnect;
    bool m_handlingScan = false;
    bool m_closeWhenIdle = false;
    bool m_shownOnce = false;
};
