#pragma once

#include "station/ScanSession.h"
#include "ui/scan/frm_SCAN.h"

#include <QPointer>
#include <QWidget>

class BoxExport;
struct PackingJob;
class QLabel;
class QLineEdit;
class QPushButton;
class frm_SCAN;

// The setup window: capacities, label texts, running numbers and digit counts.
struct PackingState;

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

    frm_SCAN *scanWindow() const { return m_scan; }

protected:
    void showEvent(QShowEvent *event) override;

private:
    QLineEdit *addRow(int labelIndex, int labelWidth, const QString &caption, const QString &textName, int row,
                      const QString &initialText);
    QString refusal() const;
    // What Start takes from the fields into the packing state.
    // Why labels of the job these fields make cannot be made or printed; "" when they can.
    QString labelRefusal(int16_t perOuter, int32_t middleNo, int32_t outerNo) const;
    // The job's fields as typed, into a packing state.
    void fieldsInto(PackingState &state, int16_t perOuter, int32_t middleNo, int32_t outerNo) const;
    void copyFields(int16_t perOuter, int32_t middleNo, int32_t outerNo);
    void saveDigitCounts();
    // The scan window made, loaded and given its box; false when it did not open.
    bool openScanWindow(const std::optional<BoxJournal::Saved> &kept);
    void showScanWindow();
    void journalNewNumbers();
    void journalNewJob();
    // 继续: the kept box's own job goes back into the fields and the packing state.
    void takeUpJob(const PackingJob &job, const QString &outerLabel);

    ScanSession::Parts m_parts;
    QLabel *lblTitle;
    QLineEdit *Text1, *Text2, *Text3, *Text4, *Text5, *Text6, *Text7, *Text8, *Text9, *Text10;
    QPushButton *cmdOK;
    QPushButton *cmdCancel;
    QPointer<frm_SCAN> m_scan;
    QStringList m_problemsBefore;
    bool m_shownOnce = false;
};
