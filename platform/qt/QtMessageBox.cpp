#include "platform/qt/QtMessageBox.h"

#include <QMessageBox>

QString applicationTitle()
{
    return QStringLiteral("Zantrel");
}

void QtMessageBox::show(const QString &text)
{
    QMessageBox box(QMessageBox::NoIcon, applicationTitle(), text, QMessageBox::Ok, m_parent);
    box.setObjectName(QStringLiteral("stationMessage"));
    box.exec();
}

namespace {
MessageBox *g_messages = nullptr;
}

MessageBox &operatorMessages()
{
    static QtMessageBox real;
    return g_messages ? *g_messages : real;
}

void setOperatorMessages(MessageBox *messages)
{
    g_messages = messages;
}
