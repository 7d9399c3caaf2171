#include "platform/Sound.h"

#include "platform/Installable.h"

namespace {

// Where no window installed its player (tools, logic tests): silence.
struct Silence : SoundPlayer
{
    void play(Sound) override {}
};

Installable<SoundPlayer, Silence> g_player;

} // namespace

SoundPlayer &operatorSounds() { return g_player.get(); }
void setOperatorSounds(SoundPlayer *player) { g_player.install(player); }
