#include "platform/qtwidgets/QtMessageBox.h"

#include "platform/qtwidgets/Twips.h"

#include <QMessageBox>
#include <QPushButton>

namespace {

// The message at the size of the windows' own text, not the desktop's smaller default.
void lookLikeTheWindows(QMessageBox &box)
{
    box.setFont(twips::font({QStringLiteral("宋体"), QStringLiteral("SimSun")}, 15.75, false));
}

} // namespace

void QtMessageBox::show(const QString &text)
{
    QMessageBox box(QMessageBox::NoIcon, applicationTitle(), text, QMessageBox::Ok, m_parent);
    box.setObjectName(QStringLiteral("stationMessage"));
    lookLikeTheWindows(box);
    box.exec();
}

int QtMessageBox::ask(const QString &text, const QStringList &buttons, int defaultButton)
{
    QMessageBox box(QMessageBox::NoIcon, applicationTitle(), text, QMessageBox::NoButton, m_parent);
    box.setObjectName(QStringLiteral("stationQuestion"));
    lookLikeTheWindows(box);
    QList<QPushButton *> added;
    for (qsizetype i = 0; i < buttons.size(); ++i) {
        QPushButton *b = box.addButton(buttons[i], QMessageBox::ActionRole);
        b->setObjectName(QStringLiteral("answer%1").arg(i));
        added << b;
    }
    if (defaultButton >= 0 && defaultButton < added.size()) {
        box.setDefaultButton(added[defaultButton]);
        box.setEscapeButton(added[defaultButton]);
        added[defaultButton]->setFocus(); // Space presses the focused button
    }
    box.exec();
    const qsizetype chosen = added.indexOf(qobject_cast<QPushButton *>(box.clickedButton()));
    return chosen >= 0 ? int(chosen) : defaultButton;
}
