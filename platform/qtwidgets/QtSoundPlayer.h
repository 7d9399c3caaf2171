#pragma once

#include "platform/Sound.h"

#include <map>
#include <memory>

class QSoundEffect;

// QSoundEffect plays through PulseAudio or PipeWire where there is a sound server
// and stays silent (with no error to the caller) where there is none: said once on
// the terminal when the player is made, in place of the sound library's own lines.
class QtSoundPlayer : public SoundPlayer
{
public:
    QtSoundPlayer();
    ~QtSoundPlayer() override;
    void play(Sound sound) override;

private:
    bool m_device;
    std::map<Sound, std::unique_ptr<QSoundEffect>> m_effects;
};
