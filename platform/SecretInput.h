#pragma once

#include <QString>
#include <optional>

// Passwords as a person gives them to a command: typed at the terminal without echo (the
// prompt on the terminal), or, when standard input is no terminal, one a line from it (a
// script's, a test's). Never shown, never written anywhere.
class SecretInput
{
public:
    SecretInput();
    // Whether they are typed at a terminal.
    bool typed() const { return m_terminal; }
    // The next password; nothing at the end of the input. The line's end is not part of it.
    std::optional<QString> next(const QString &prompt);

private:
    bool m_terminal = false;
};
