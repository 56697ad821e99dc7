#include "platform/Settings.h"

#include "platform/SoundFonts.h"
#include "platform/midi/transport/Sequencer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

#include <cmath>
#include <cstdio>
#include <vector>

namespace sequora::platform {

namespace {

const QString kFolder = QStringLiteral("sequora");
const QString kFile = QStringLiteral("sequora.ini");

// The keys of the file, in its [sound] group.
const QString kOutputKey = QStringLiteral("sound/output");
const QString kSoundfontKey = QStringLiteral("sound/soundfont");
const QString kReverbKey = QStringLiteral("sound/reverb");
const QString kChorusKey = QStringLiteral("sound/chorus");
const QString kLevelKey = QStringLiteral("sound/level_db");
const QString kLoopsKey = QStringLiteral("sound/loops");
const QString kFadeKey = QStringLiteral("sound/fade_seconds");

const QString kSoftSynth = QStringLiteral("fluidsynth");
const QString kAlsaPrefix = QStringLiteral("alsa:");
const QString kNull = QStringLiteral("null");
const QString kNone = QStringLiteral("none");
const QString kManual = QStringLiteral("manual");

bool readFlag(const QSettings& file, const QString& key, bool fallback)
{
    const QString text = file.value(key).toString().trimmed().toLower();
    if (text == QLatin1String("true") || text == QLatin1String("1"))
        return true;
    if (text == QLatin1String("false") || text == QLatin1String("0"))
        return false;
    return fallback;
}

double readNumber(
    const QSettings& file, const QString& key, double fallback, double min, double max)
{
    bool ok = false;
    const double value = file.value(key).toString().trimmed().toDouble(&ok);
    return ok && std::isfinite(value) && value >= min && value <= max ? value : fallback;
}

// A path is kept as text where it is UTF-8, else as its bytes.
QVariant pathValue(const std::string& path)
{
    const QByteArray bytes = QByteArray::fromStdString(path);
    const QString text = QString::fromUtf8(bytes);
    return text.toUtf8() == bytes ? QVariant(text) : QVariant(bytes);
}

} // namespace

QString settingsFilePath()
{
    QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    if (config.isEmpty())
        config = QDir::homePath() + QStringLiteral("/.config");
    return QDir(config).filePath(kFolder + QLatin1Char('/') + kFile);
}

bool readOutput(const QString& text, midi::SoundSetup& setup)
{
    using Device = midi::SoundSetup::Device;
    const QString choice = text.trimmed();
    if (choice.isEmpty() || choice == kSoftSynth) {
        setup.device = Device::SoftSynth;
    } else if (choice.startsWith(kAlsaPrefix) && choice.size() > kAlsaPrefix.size()) {
        setup.device = Device::AlsaPort;
        setup.port = choice.mid(kAlsaPrefix.size()).toStdString();
        return true;
    } else if (choice == kNull || choice == kNone) {
        setup.device = Device::None;
    } else if (choice == kManual) {
        setup.device = Device::ManualClock;
    } else {
        return false;
    }
    setup.port.clear();
    return true;
}

QString writeOutput(const midi::SoundSetup& setup)
{
    using Device = midi::SoundSetup::Device;
    switch (setup.device) {
    case Device::SoftSynth:
        return kSoftSynth;
    case Device::AlsaPort:
        return kAlsaPrefix + QString::fromStdString(setup.port);
    case Device::None:
        return kNull;
    case Device::ManualClock:
        return kManual;
    }
    return kSoftSynth;
}

PlayerSettings loadSettings()
{
    PlayerSettings settings;
    const QString path = settingsFilePath();
    if (!QFileInfo::exists(path))
        return settings;
    const QSettings file(path, QSettings::IniFormat);
    // The file is read at the first question, and only then says whether it read.
    if (file.allKeys().isEmpty() || file.status() != QSettings::NoError)
        return settings;
    midi::SoundSetup& sound = settings.sound;
    midi::SoundSetup read = sound;
    // A test's manual clock is never a user's choice.
    if (readOutput(file.value(kOutputKey).toString(), read)
        && read.device != midi::SoundSetup::Device::ManualClock) {
        sound.device = read.device;
        sound.port = read.port;
    }
    sound.soundfont = file.value(kSoundfontKey).toByteArray().toStdString();
    sound.reverb = readFlag(file, kReverbKey, sound.reverb);
    sound.chorus = readFlag(file, kChorusKey, sound.chorus);
    sound.levelDb = readNumber(file, kLevelKey, sound.levelDb, midi::SoundSetup::kMinLevelDb,
        midi::SoundSetup::kMaxLevelDb);
    midi::LoopPlayback& loop = settings.loop;
    loop.loops = int(readNumber(
        file, kLoopsKey, loop.loops, midi::LoopPlayback::kMinLoops, midi::LoopPlayback::kMaxLoops));
    loop.fadeMs = int(readNumber(
                      file, kFadeKey, loop.fadeMs / 1000, 0, midi::LoopPlayback::kMaxFadeMs / 1000))
        * 1000;
    return settings;
}

bool saveSettings(const PlayerSettings& settings)
{
    const QString path = settingsFilePath();
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    {
        // A damaged file is written anew rather than patched.
        const QSettings old(path, QSettings::IniFormat);
        old.allKeys();
        if (old.status() != QSettings::NoError)
            QFile::remove(path);
    }
    QSettings file(path, QSettings::IniFormat);
    const midi::SoundSetup& sound = settings.sound;
    file.setValue(kOutputKey, writeOutput(sound));
    file.setValue(kSoundfontKey, pathValue(sound.soundfont));
    file.setValue(kReverbKey, sound.reverb);
    file.setValue(kChorusKey, sound.chorus);
    file.setValue(kLevelKey, sound.levelDb);
    file.setValue(kLoopsKey, settings.loop.loops);
    file.setValue(kFadeKey, settings.loop.fadeMs / 1000);
    file.sync();
    return file.status() == QSettings::NoError;
}

SoundEnvironment soundEnvironment()
{
    SoundEnvironment environment;
    for (EnvironmentHold* hold : { &environment.output, &environment.soundfont })
        hold->value = qEnvironmentVariable(hold->variable.toLatin1().constData());
    return environment;
}

midi::SoundSetup effectiveSound(const PlayerSettings& settings)
{
    midi::SoundSetup sound = settings.sound;
    const SoundEnvironment environment = soundEnvironment();
    if (environment.output.holds() && !readOutput(environment.output.value, sound)) {
        static bool said = false;
        if (!said) {
            std::fprintf(stderr, "sequora: no sound (unknown %s \"%s\"); playing silently\n",
                qPrintable(environment.output.variable), qPrintable(environment.output.value));
            said = true;
        }
        sound.device = midi::SoundSetup::Device::None;
        sound.port.clear();
    }
    if (environment.soundfont.holds())
        sound.soundfont = qgetenv("SEQUORA_SOUNDFONT").toStdString();
    return sound;
}

ApplyResult applySettings(const PlayerSettings& settings)
{
    ApplyResult result;
    const midi::SoundSetup sound = effectiveSound(settings);
    // The font the soft synth would use now, and the user's own choice even while the
    // environment or another output leaves it aside: a later start would load it.
    std::vector<std::string> fonts;
    if (sound.device == midi::SoundSetup::Device::SoftSynth)
        fonts.push_back(
            sound.soundfont.empty() ? defaultSoundFont().toStdString() : sound.soundfont);
    if (!settings.sound.soundfont.empty())
        fonts.push_back(settings.sound.soundfont);
    for (const std::string& font : fonts) {
        result.soundfont = midi::readSoundFontInfo(font).problem;
        if (!result.applied()) {
            result.refusedFont = QByteArray::fromStdString(font);
            return result;
        }
    }
    std::string error;
    bool soundfontFailed = false;
    if (!midi::engine::apply(sound, error, &soundfontFailed)) {
        if (soundfontFailed) {
            result.soundfont = midi::SoundFontInfo::Problem::Damaged;
            result.refusedFont
                = fonts.empty() ? QByteArray() : QByteArray::fromStdString(fonts.front());
        } else {
            result.outputError = QString::fromStdString(error);
        }
        return result;
    }
    // Loop playback is the transport's, whatever the output: from the next song opened.
    midi::engine::sequencer().setLoopPlayback(settings.loop);
    result.notSaved = !saveSettings(settings);
    return result;
}

} // namespace sequora::platform
