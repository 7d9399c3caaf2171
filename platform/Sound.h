#pragma once

// Short sounds for an operator who is not looking at the screen: one for every
// refusal, another when a box reaches the workbook.
enum class Sound { Refused, BoxWritten };

class SoundPlayer
{
public:
    virtual ~SoundPlayer() = default;
    // Never blocks and never fails: no sound file or no audio device means silence.
    virtual void play(Sound sound) = 0;
};

// The player the station uses: the program installs one that plays the WAV files
// sounds/refused.wav and sounds/box.wav of the program folder; tests install their
// own to hear what was played. Without one installed: silence.
SoundPlayer &operatorSounds();
void setOperatorSounds(SoundPlayer *player); // nullptr: none installed
