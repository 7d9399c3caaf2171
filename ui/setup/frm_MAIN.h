#pragma once

#include "station/ScanSession.h"
#include "station/StartRules.h"
#include "ui/scan/frm_SCAN.h"

#include <QPointer>
#include <QWidget>

class QLabel;
class QLineEdit;
class QPushButton;
class frm_SCAN;

// The setup window: capacities, label texts, running numbers and digit counts. It
// lays them out, reads them and forwards them; what Start does with them is the
// station's (startrules, startchecks).

class frm_MAIN : public QWidget
{
    Q_OBJECT
public:
    // The parts every scan window's session is made of, built once by the program.
    explicit frm_MAIN(const ScanSession::Parts &parts, QWidget *parent = nullptr);
    ~frm_MAIN() override;

    // Problems of config.ini found before the window was made, told with its own.
    void tellAtLoad(const QStringList &problems) { m_problemsBefore = problems; }
    // Runs once, before the window is first shown.
    void Form_Load();
    void cmdOK_Click();
    void cmdCancel_Click();
    // The batch window of a station that packs batches, while it is open.
    QWidget *batchWindow() const { return m_batchWindow; }
    // The login window of a station whose operators log in, while it is open.
    QWidget *loginWindow() const { return m_loginWindow; }

    frm_SCAN *scanWindow() const { return m_scan; }

protected:
    void showEvent(QShowEvent *event) override;

private:
    QLineEdit *addRow(int labelIndex, int labelWidth, const QString &caption, const QString &textName, int row,
                      const QString &initialText);
    // The fields as typed, and those Start puts back for a kept box.
    startrules::Fields fields() const;
    void showFields(const startrules::Fields &fields);
    // Start with a batch: the line's batches offered, or (the record out of reach) the
    // batch this station packed last; startWith once one is taken.
    void chooseBatch();
    // Start once the operator is known (logged in, or nobody logs in here).
    void startAs();
    // What Start does with the fields, with the batch taken (none without batches).
    void startWith(const std::optional<Batch> &batch);
    // The batch of the box still open (the scan window's, or the one the last run left); "" for none.
    QString openBoxBatch(const std::optional<BoxJournal::Saved> &kept) const;
    // The scan window made, loaded and given its box; false when it did not open.
    bool openScanWindow(const std::optional<BoxJournal::Saved> &kept);
    void showScanWindow();

    ScanSession::Parts m_parts;
    QLabel *lblTitle;
    QLineEdit *Text1, *Text2, *Text3, *Text4, *Text5, *Text6, *Text7, *Text8, *Text9, *Text10;
    QPushButton *cmdOK;
    QPushButton *cmdCancel;
    QPointer<frm_SCAN> m_scan;
    QPointer<QWidget> m_batchWindow;
    QPointer<QWidget> m_loginWindow;
    std::optional<OnDuty> m_onDuty; // who logged in at the last Start
    QStringList m_problemsBefore;
    bool m_shownOnce = false;
};
