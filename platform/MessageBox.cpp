#include "platform/MessageBox.h"

#include "platform/Installable.h"

#include <cstdio>

QString applicationTitle()
{
    return QStringLiteral("Zantrel");
}

namespace {

// Where no window installed its message box (a tool without a screen, a test that
// answers none): the message still reaches a person, on stderr, and a question
// takes its default answer, which is always the one that keeps data.
class StderrMessages : public MessageBox
{
public:
    void show(const QString &text) override
    {
        std::fprintf(stderr, "%s: %s\n", qUtf8Printable(applicationTitle()), qUtf8Printable(text));
    }
    int ask(const QString &text, const QStringList &buttons, int defaultButton) override
    {
        const QString answer = defaultButton >= 0 && defaultButton < buttons.size() ? buttons[defaultButton] : QString();
        std::fprintf(stderr, "%s: %s [%s]\n", qUtf8Printable(applicationTitle()), qUtf8Printable(text), qUtf8Printable(answer));
        return defaultButton;
    }
};

Installable<MessageBox, StderrMessages> g_messages;

} // namespace

MessageBox &operatorMessages() { return g_messages.get(); }
void setOperatorMessages(MessageBox *messages) { g_messages.install(messages); }
