#pragma once

#include "platform/ProgramEnvironment.h"

#include <QString>
#include <cstdint>

// Where the windows find config.ini, spelled as each caller spells it; every
// spelling reaches the one file config.ini in the program's folder.
namespace config {

// Every read passes a buffer this large.
constexpr int32_t kReadBuffer = 65536;

inline QString path()
{
    return program::folder() + "\\" + "config.ini";
}

inline QString pathUpperCase()
{
    return program::folder() + "\\CONFIG.ini";
}

} // namespace config
