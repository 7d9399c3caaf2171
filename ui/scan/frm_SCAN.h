#pragma once

#include "core/RuntimeError.h"
#include "platform/qtwidgets/QtRecordGrid.h"
#include "station/ScanSession.h"
#include "station/ScannerLink.h"

#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <memory>
#include <optional>

class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;
class StatusPanel;

// The scan window: the list of the current outer box, the status panel and the
// scanner's port. What it shows and reads belongs to its session and its link.
class frm_SCAN : public QWidget
{
    Q_OBJECT
public:
    explicit frm_SCAN(std::unique_ptr<ScanSession> session, QWidget *parent = nullptr);
    ~frm_SCAN() override;

    // Runs once, before the window is first shown.
    void Form_Load();
    // After the load: the session's box, restored or empty (see ScanSession).
    bool startBox(const std::optional<BoxJournal::Saved> &kept);
    // The port's event goes to the session, which handles the scan.
    void MSComm1_OnComm();
    // Closes the port if open and opens it; the failure, if any, is returned.
    std::optional<RuntimeError> OpenPort() { return m_session->link().reopen(); }

    int32_t iPort1 = 0;

    // The status panel again, after anything that changes what it shows.
    void refreshStatus();

    ScanSession &session() { return *m_session; }
    BarcodeIntake &intake() { return m_session->intake(); }
    Box &box() { return m_session->box(); }
    SerialPort &port() { return m_session->link().port(); }
    QtRecordGrid &grid() { return m_grid; }
    const QTimer &reconnectTimer() const { return m_session->link().reconnectTimer(); }

protected:
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildControls();
    void showTitle(const ScanSession::Status &status);
    // 交接班 (F12), or a key at the locked window: the next operator logs in, the box goes on.
    void handOver();
    // Nobody was there for lockMinutes: no scan is taken until someone logs in.
    void lockUp();
    void stillThere();
    void cmdCancel_Click();
    // The plant record and the labels work on threads of their own; what they learn reaches the panel here.
    void watchBackgroundWork();

    QLabel *lblTitle;
    QPushButton *cmdCancel;
    QLineEdit *Text1;
    QTableView *fg1;
    StatusPanel *m_status;
    QtRecordGrid m_grid;
    std::unique_ptr<ScanSession> m_session;
    bool m_closeWhenIdle = false;
    bool m_shownOnce = false;
    QTimer m_backgroundWatch;
    QTimer m_idle; // locks the window after lockMinutes without a scan or a key
    QPointer<QWidget> m_loginWindow;
};
