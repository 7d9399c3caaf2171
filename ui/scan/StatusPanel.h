#pragma once

#include <QWidget>

class QLabel;

// Where the box stands, beside the list: the current labels, the packs against
// the box size, the last box written (or why it waits), the scanner and the plant
// record. It
// only shows; it never takes the focus.
class StatusPanel : public QWidget
{
    Q_OBJECT
public:
    explicit StatusPanel(QWidget *parent);

    void showLabels(const QString &outer, const QString &middle);
    void showPacks(int packs, int perOuter);
    void showLastBox(const QString &text);
    void showScanner(const QString &text);
    void showPlantRecord(const QString &text);
    // Where the labels stand; a station that prints none shows no line of it.
    void showPrint(const QString &text);
    // In red, while there is something the operator must see at once ("": hidden).
    void showAlarm(const QString &text);
    // The batch packed and its count against plan, in red past the plan ("": hidden).
    void showBatch(const QString &text, bool overPlan);
    // The operator on duty, or that the window is locked ("": hidden).
    void showOperator(const QString &text);
    // The window's keys.
    void showKeys(const QString &text);

private:
    QLabel *line(const char *name);

    QLabel *lblBatch;
    QLabel *lblOperator;
    QLabel *lblBox;
    QLabel *lblPacks;
    QLabel *lblLastBox;
    QLabel *lblScanner;
    QLabel *lblPlant;
    QLabel *lblPrint;
    QLabel *lblAlarm;
    QLabel *lblKeys;
};
