#include "platform/qtwidgets/QtSoundPlayer.h"

#include "platform/ProgramEnvironment.h"
#include "platform/RegularFile.h"

#include <QDir>
#include <QFileInfo>
#include <QSoundEffect>
#include <QUrl>

void QtSoundPlayer::play(Sound sound)
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

QtSoundPlayer::QtSoundPlayer() = default;
QtSoundPlayer::~QtSoundPlayer() = default;
