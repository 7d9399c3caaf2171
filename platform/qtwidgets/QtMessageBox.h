#pragma once

#include "platform/MessageBox.h"

class QWidget;

// QMessageBox with OK only (确定 once Qt's Chinese texts are installed) and no icon, its
// text at the windows' size; its exec() runs a nested event loop.
class QtMessageBox : public MessageBox
{
public:
    explicit QtMessageBox(QWidget *parent = nullptr) : m_parent(parent) {}
    void show(const QString &text) override;
    int ask(const QString &text, const QStringList &buttons, int defaultButton) override;

private:
    QWidget *m_parent;
};
