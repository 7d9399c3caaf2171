#pragma once

#include <QString>
#include <QStringList>

// A modal message to the operator: OK only, no icon, the application's title.
// It returns once the operator has confirmed; events keep being handled meanwhile.
class MessageBox
{
public:
    virtual ~MessageBox() = default;
    virtual void show(const QString &text) = 0;
    // A question with its own buttons, no icon, the application's title. Returns
    // the index of the button chosen; Enter, Space and closing the box choose
    // defaultButton.
    virtual int ask(const QString &text, const QStringList &buttons, int defaultButton) = 0;
};

// The title every message of the station carries.
QString applicationTitle();

// The message box the station uses: the program installs the windows' one at start,
// tests their own answering one. Without one installed, messages go to stderr and
// questions take their default answer.
MessageBox &operatorMessages();
void setOperatorMessages(MessageBox *messages); // nullptr: none installed
