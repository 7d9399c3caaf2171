#include "platform/Sound.h"

#include "platform/ProgramEnvironment.h"
#include "platform/RegularFile.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QSoundEffect>
#include <QUrl>
#include <map>
#include <memory>

namespace {

// QSoundEffect plays through PulseAudio or PipeWire where there is a sound server
// and stays silent (with no error to the caller) where there is none.
class QtSoundPlayer : public SoundPlayer
{
public:
    void play(Sound sound) override
    {
        const QString name = sound == Sound::Refused ? QStringLiteral("refused.wav") : QStringLiteral("box.wav");
        const QString path = QDir(program::folder()).filePath(QStringLiteral("sounds/") + name);
        if (!QFileInfo::exists(path))
            return; // a line that removed the file wants no sound
        // The sound is loaded on a thread of Qt's: a pipe or a link to /dev/zero there would
        // hang or fill it. Only a regular file of a sound's size is played.
        if (!regularfile::whyNotReadable(path, regularfile::kSoundLimit).isEmpty())
            return;
        std::unique_ptr<QSoundEffect> &effect = m_effects[sound];
        if (!effect) {
            effect = std::make_unique<QSoundEffect>();
            effect->setSource(QUrl::fromLocalFile(path));
        }
        effect->play();
    }

private:
    std::map<Sound, std::unique_ptr<QSoundEffect>> m_effects;
};

SoundPlayer *g_player = nullptr;

} // namespace

SoundPlayer &operatorSounds()
{
    static QtSoundPlayer real;
    return g_player ? *g_player : real;
}

void setOperatorSounds(SoundPlayer *player)
{
    g_player = player;
}
