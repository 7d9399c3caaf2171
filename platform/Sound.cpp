#include "platform/Sound.h"

namespace {

// Where no window installed its player (tools, logic tests): silence.
class Silence : public SoundPlayer
{
public:
    void play(Sound) override {}
};

SoundPlayer *g_player = nullptr;

} // namespace

SoundPlayer &operatorSounds()
{
    static Silence fallback;
    return g_player ? *g_player : fallback;
}

void setOperatorSounds(SoundPlayer *player)
{
    g_player = player;
}
