#include "platform/SecretInput.h"

#include <QByteArray>
#include <cerrno>
#include <cstdio>
#include <string>
#include <termios.h>
#include <unistd.h>

namespace {

// One line of standard input, without its end; nothing at the end of the input.
std::optional<QByteArray> lineOfInput()
{
    QByteArray line;
    for (;;) {
        char c = 0;
        const ssize_t n = ::read(STDIN_FILENO, &c, 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return line.isEmpty() ? std::nullopt : std::optional<QByteArray>(line);
        if (c == '\n')
            break;
        line.append(c);
    }
    if (line.endsWith('\r'))
        line.chop(1);
    return line;
}

} // namespace

SecretInput::SecretInput() : m_terminal(::isatty(STDIN_FILENO) == 1) {}

std::optional<QString> SecretInput::next(const QString &prompt)
{
    if (!m_terminal) {
        std::optional<QByteArray> line = lineOfInput();
        if (!line)
            return std::nullopt;
        QString secret = QString::fromUtf8(*line);
        line->fill('\0');
        return secret;
    }
    std::fprintf(stderr, "%s", prompt.toLocal8Bit().constData());
    std::fflush(stderr);
    termios before{};
    const bool got = ::tcgetattr(STDIN_FILENO, &before) == 0;
    if (got) {
        termios quiet = before;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        quiet.c_lflag |= ECHONL;
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    std::optional<QByteArray> line = lineOfInput();
    if (got)
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &before); // echo back, whatever was read
    if (!line)
        return std::nullopt;
    QString secret = QString::fromUtf8(*line);
    line->fill('\0');
    return secret;
}
