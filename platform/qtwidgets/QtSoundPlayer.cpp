#include "platform/qtwidgets/QtSoundPlayer.h"

#include "platform/ProgramEnvironment.h"
#include "platform/RegularFile.h"

#include <QAudioDevice>
#include <QDir>
#include <QFileInfo>
#include <QMediaDevices>
#include <QSoundEffect>
#include <QUrl>
#include <cstdio>

namespace {

QtMessageHandler g_previous = nullptr;

// The sound library's own complaints when there is no sound server, in English and
// without a category of their own: the station says it once, in its words.
void withoutSoundServerNoise(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (message.startsWith(QLatin1String("PulseAudioService:")) || message.startsWith(QLatin1String("No audio device")))
        return;
    if (g_previous)
        g_previous(type, context, message);
    else // Qt's own handler, as it would have printed it
        std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, message)));
}

bool anySoundDevice()
{
    g_previous = qInstallMessageHandler(withoutSoundServerNoise);
    const bool any = !QMediaDevices::audioOutputs().isEmpty();
    qInstallMessageHandler(g_previous);
    return any;
}

} // namespace

void QtSoundPlayer::play(Sound sound)
{
    const QString name = sound == Sound::Refused ? QStringLiteral("refused.wav") : QStringLiteral("box.wav");
    const QString path = QDir(program::folder()).filePath(QStringLiteral("sounds/") + name);
    if (!m_device)
        return; // told once at the start
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

QtSoundPlayer::QtSoundPlayer() : m_device(anySoundDevice())
{
    if (!m_device)
        std::fprintf(stderr, "提示：没有声音设备，拒收和写箱时不会有提示音。\n");
}
QtSoundPlayer::~QtSoundPlayer() = default;
