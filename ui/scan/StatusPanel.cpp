#include "ui/scan/StatusPanel.h"

#include "platform/qtwidgets/Twips.h"

#include <QLabel>
#include <QVBoxLayout>

StatusPanel::StatusPanel(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("statusPanel"));
    setFocusPolicy(Qt::NoFocus);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(twips::px(120));
    lblOperator = line("lblOperator");
    lblOperator->hide();
    lblBatch = line("lblBatch");
    lblBatch->hide();
    lblBox = line("lblBox");
    lblPacks = line("lblPacks");
    lblPacks->setFont(twips::font({QStringLiteral("Arial")}, 18, true));
    lblLastBox = line("lblLastBox");
    lblScanner = line("lblScanner");
    lblPlant = line("lblPlant");
    lblPrint = line("lblPrint");
    lblPrint->hide();
    lblAlarm = line("lblAlarm");
    lblAlarm->setStyleSheet(QStringLiteral("color: #c00000; font-weight: bold;"));
    lblAlarm->hide();
    lblKeys = line("lblKeys");
    for (QLabel *l : {lblOperator, lblBatch, lblBox, lblPacks, lblLastBox, lblScanner, lblPlant, lblPrint, lblAlarm, lblKeys})
        layout->addWidget(l);
    layout->addStretch();
}

QLabel *StatusPanel::line(const char *name)
{
    auto *label = new QLabel(this);
    label->setObjectName(QLatin1String(name));
    label->setWordWrap(true);
    label->setFocusPolicy(Qt::NoFocus);
    label->setTextInteractionFlags(Qt::NoTextInteraction);
    label->setFont(twips::font({QStringLiteral("宋体"), QStringLiteral("SimSun")}, 10.5, false));
    return label;
}

void StatusPanel::showLabels(const QString &outer, const QString &middle)
{
    const QString none = QStringLiteral("—");
    lblBox->setText(QStringLiteral("外箱 %1\n中箱 %2").arg(outer.isEmpty() ? none : outer, middle.isEmpty() ? none : middle));
}

void StatusPanel::showPacks(int packs, int perOuter)
{
    lblPacks->setText(QStringLiteral("内包 %1 / %2").arg(packs).arg(perOuter));
}

void StatusPanel::showKeys(const QString &text)
{
    lblKeys->setText(text);
}

void StatusPanel::showLastBox(const QString &text)
{
    lblLastBox->setText(text);
}

void StatusPanel::showScanner(const QString &text)
{
    lblScanner->setText(text);
}

void StatusPanel::showAlarm(const QString &text)
{
    lblAlarm->setText(text);
    lblAlarm->setVisible(!text.isEmpty());
}

void StatusPanel::showPlantRecord(const QString &text)
{
    // A station without a plant record shows no line of it.
    lblPlant->setText(text);
    lblPlant->setVisible(!text.isEmpty());
}

void StatusPanel::showPrint(const QString &text)
{
    lblPrint->setText(text);
    lblPrint->setVisible(!text.isEmpty());
}

void StatusPanel::showBatch(const QString &text, bool overPlan)
{
    lblBatch->setText(text);
    // Past the plan is a deviation the batch's record shows, not a stop: told, in red.
    lblBatch->setStyleSheet(overPlan ? QStringLiteral("color: #c00000; font-weight: bold;") : QString());
    lblBatch->setVisible(!text.isEmpty());
}

void StatusPanel::showOperator(const QString &text)
{
    lblOperator->setText(text);
    lblOperator->setVisible(!text.isEmpty());
}
