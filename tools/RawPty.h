#pragma once

#include <cstdio>
#include <pty.h>
#include <string>
#include <termios.h>

// A pseudo-terminal in raw mode: what the station opens as a scanner's serial line.
// The scanner writes to master; the station opens the device named by path.
struct RawPty
{
    int master = -1;
    int slave = -1;
    std::string path;
};

// Opens one; false (with the reason on stderr) when the system has none to give.
inline bool openRawPty(RawPty &pty)
{
    char name[256] = {};
    if (::openpty(&pty.master, &pty.slave, name, nullptr, nullptr) != 0) {
        std::perror("openpty");
        return false;
    }
    termios raw {};
    ::tcgetattr(pty.slave, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(pty.slave, TCSANOW, &raw);
    pty.path = name;
    return true;
}
