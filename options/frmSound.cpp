#include "options/frmSound.h"

#include "platform/FileNames.h"
#include "platform/MidiPorts.h"
#include "platform/SoundFonts.h"
#include "platform/desktop/Fonts.h"
#include "platform/desktop/MessageBox.h"
#include "platform/desktop/ModalChildScope.h"
#include "platform/desktop/Twips.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QFile>
#include <QFileDialog>
#include <QGuiApplication>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>

using sequora::midi::LoopPlayback;
using sequora::midi::SoundSetup;
using sequora::platform::PlayerSettings;
using sequora::platform::twips;

namespace {

constexpr int kClientWidth = 6600;
constexpr double kFontPoints = 9;
// The rows of settings, each a label on the left and its control on the right.
constexpr int kLeft = 180;
constexpr int kLabelWidth = 1260;
constexpr int kControlLeft = 1500;
constexpr int kControlWidth = 4920;
constexpr int kRowHeight = 315;
constexpr int kFirstRow = 240;
constexpr int kRowStep = 465;
constexpr int kButtonWidth = 1095;
constexpr int kButtonHeight = 375;
// Below the environment's note, the buttons and the window's bottom edge.
constexpr int kButtonsGap = 255;
constexpr int kBottomMargin = 240;
constexpr double kLevelStep = 0.5;

const QString kTitle = QStringLiteral("音源の設定");
const QString kSoftSynth = QStringLiteral("ｿﾌﾄｼﾝｾ (FluidSynth)");
const QString kNoOutput = QStringLiteral("なし (音を出さない)");
const QString kSoundFontFilter = QStringLiteral("ｻｳﾝﾄﾞﾌｫﾝﾄ(*.sf2 *.sf3)");
const QStringList kAppIconFiles
    = { QStringLiteral(":/icons/sequora-32.png"), QStringLiteral(":/icons/sequora-64.png") };

frmSound::BrowseHook& browseHook()
{
    static frmSound::BrowseHook hook;
    return hook;
}

void place(QWidget* control, int left, int top, int width, int height)
{
    control->setGeometry(twips(left), twips(top), twips(width), twips(height));
}

QPushButton* button(QWidget* parent, const char* name, const QString& caption)
{
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(QLatin1String(name));
    b->setAutoDefault(false);
    return b;
}

QLabel* label(QWidget* parent, const char* name, const QString& caption, QWidget* buddy)
{
    auto* l = new QLabel(caption, parent);
    l->setObjectName(QLatin1String(name));
    l->setBuddy(buddy);
    return l;
}

QString soundFontReason(sequora::midi::SoundFontInfo::Problem problem)
{
    using Problem = sequora::midi::SoundFontInfo::Problem;
    switch (problem) {
    case Problem::Missing:
        return QStringLiteral("ﾌｧｲﾙが見つかりません。");
    case Problem::Unreadable:
        return QStringLiteral("ﾌｧｲﾙを読めません。");
    case Problem::NotSoundFont:
        return QStringLiteral("ｻｳﾝﾄﾞﾌｫﾝﾄではありません。");
    case Problem::CutShort:
        return QStringLiteral("ﾌｧｲﾙが途中で切れています。");
    case Problem::Damaged:
        return QStringLiteral("ｻｳﾝﾄﾞﾌｫﾝﾄが壊れています。");
    case Problem::None:
        break;
    }
    return {};
}

QString chooseSoundFont(QWidget* owner, const QString& folder)
{
    if (browseHook())
        return browseHook()(folder);
    QFileDialog dialog(owner, QString(), folder, kSoundFontFilter);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFilter(dialog.filter() & ~QDir::CaseSensitive);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setWindowModality(Qt::WindowModal);
    // Its owner takes no command and is not deleted until the dialog has returned.
    const sequora::platform::ModalChildScope scope(dialog);
    if (scope.ownerClosed() || dialog.exec() != QDialog::Accepted)
        return {};
    const QStringList chosen = dialog.selectedFiles();
    return chosen.isEmpty() ? QString() : chosen.first();
}

} // namespace

frmSound::frmSound()
    : QWidget(nullptr,
        Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint
            | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("frmSound"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(kTitle);
    QIcon icon;
    for (const QString& file : kAppIconFiles) {
        if (QFile::exists(file))
            icon.addFile(file);
    }
    setWindowIcon(icon.isNull() ? QGuiApplication::windowIcon() : icon);
    setFont(sequora::platform::pGothicFont(kFontPoints));
    buildLayout();
    connectEvents();
    if (QScreen* where = screen())
        move(where->availableGeometry().center() - rect().center());
}

void frmSound::buildLayout()
{
    // One row() a setting, top to bottom; the note, the buttons and the window's height
    // follow the last row.
    int top = kFirstRow;
    const auto row = [&](QLabel* caption, QWidget* control, int width = kControlWidth) {
        place(caption, kLeft, top, kLabelWidth, kRowHeight);
        place(control, kControlLeft, top, width, kRowHeight);
        top += kRowStep;
    };

    cboOutput = new QComboBox(this);
    cboOutput->setObjectName(QStringLiteral("cboOutput"));
    lblOutput = label(this, "lblOutput", QStringLiteral("出力先(&O):"), cboOutput);
    row(lblOutput, cboOutput);

    constexpr int kBrowseWidth = 1005;
    constexpr int kGap = 90;
    cboSoundFont = new QComboBox(this);
    cboSoundFont->setObjectName(QStringLiteral("cboSoundFont"));
    lblSoundFont = label(this, "lblSoundFont", QStringLiteral("ｻｳﾝﾄﾞﾌｫﾝﾄ(&F):"), cboSoundFont);
    cmdBrowse = button(this, "cmdBrowse", QStringLiteral("参照..."));
    place(cmdBrowse, kControlLeft + kControlWidth - kBrowseWidth, top, kBrowseWidth, kRowHeight);
    row(lblSoundFont, cboSoundFont, kControlWidth - kBrowseWidth - kGap);

    chkReverb = new QCheckBox(QStringLiteral("ﾘﾊﾞｰﾌﾞ(&R)"), this);
    chkReverb->setObjectName(QStringLiteral("chkReverb"));
    place(chkReverb, kControlLeft, top, kControlWidth / 2, kRowHeight);
    chkChorus = new QCheckBox(QStringLiteral("ｺｰﾗｽ(&C)"), this);
    chkChorus->setObjectName(QStringLiteral("chkChorus"));
    place(chkChorus, kControlLeft + kControlWidth / 2, top, kControlWidth / 2, kRowHeight);
    auto* lblEffects = label(this, "lblEffects", QStringLiteral("効果:"), chkReverb);
    place(lblEffects, kLeft, top, kLabelWidth, kRowHeight);
    top += kRowStep;

    constexpr int kLevelWidth = 1200;
    spnLevel = new QDoubleSpinBox(this);
    spnLevel->setObjectName(QStringLiteral("spnLevel"));
    spnLevel->setRange(SoundSetup::kMinLevelDb, SoundSetup::kMaxLevelDb);
    spnLevel->setSingleStep(kLevelStep);
    spnLevel->setDecimals(1);
    spnLevel->setSuffix(QStringLiteral(" dB"));
    lblLevel = label(this, "lblLevel", QStringLiteral("音量(&V):"), spnLevel);
    auto* lblLevelRange = new QLabel(QStringLiteral("(-12 ～ +6 dB)"), this);
    lblLevelRange->setObjectName(QStringLiteral("lblLevelRange"));
    place(lblLevelRange, kControlLeft + kLevelWidth + kGap, top, kControlWidth - kLevelWidth,
        kRowHeight);
    row(lblLevel, spnLevel, kLevelWidth);

    // Songs with a marked loop: the loop's passes in all, then a pass that fades out.
    const auto count = [&](const char* name, int min, int max, const QString& suffix) {
        auto* spin = new QSpinBox(this);
        spin->setObjectName(QString::fromLatin1(name));
        spin->setRange(min, max);
        spin->setSuffix(suffix);
        return spin;
    };
    const auto countRow = [&](QLabel* caption, QSpinBox* spin, const QString& range) {
        auto* rangeLabel = new QLabel(range, this);
        place(rangeLabel, kControlLeft + kLevelWidth + kGap, top, kControlWidth - kLevelWidth,
            kRowHeight);
        row(caption, spin, kLevelWidth);
    };
    spnLoops = count("spnLoops", LoopPlayback::kMinLoops, LoopPlayback::kMaxLoops, QString());
    lblLoops = label(this, "lblLoops", QStringLiteral("ﾙｰﾌﾟ回数(&L):"), spnLoops);
    countRow(lblLoops, spnLoops, QStringLiteral("(1 ～ 9)"));
    spnFade = count("spnFade", 0, LoopPlayback::kMaxFadeMs / 1000, QStringLiteral(" 秒"));
    lblFade = label(this, "lblFade", QStringLiteral("ﾌｪｰﾄﾞｱｳﾄ(&D):"), spnFade);
    countRow(lblFade, spnFade, QStringLiteral("(0 ～ 20 秒)"));

    // What the environment holds: two lines at most.
    lblEnvironment = new QLabel(this);
    lblEnvironment->setObjectName(QStringLiteral("lblEnvironment"));
    lblEnvironment->setWordWrap(true);
    lblEnvironment->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    place(lblEnvironment, kLeft, top, kClientWidth - 2 * kLeft, 2 * kRowHeight);

    const int buttonsTop = top + 2 * kRowHeight + kButtonsGap;
    setFixedSize(twips(kClientWidth), twips(buttonsTop + kButtonHeight + kBottomMargin));
    cmdOK = button(this, "cmdOK", QStringLiteral("OK"));
    cmdCancel = button(this, "cmdCancel", QStringLiteral("ｷｬﾝｾﾙ"));
    cmdApply = button(this, "cmdApply", QStringLiteral("適用"));
    const int right = kClientWidth - kLeft;
    place(cmdApply, right - kButtonWidth, buttonsTop, kButtonWidth, kButtonHeight);
    place(cmdCancel, right - 2 * kButtonWidth - kGap, buttonsTop, kButtonWidth, kButtonHeight);
    place(cmdOK, right - 3 * kButtonWidth - 2 * kGap, buttonsTop, kButtonWidth, kButtonHeight);

    const QList<QWidget*> order { cboOutput, cboSoundFont, cmdBrowse, chkReverb, chkChorus,
        spnLevel, spnLoops, spnFade, cmdOK, cmdCancel, cmdApply };
    for (int i = 1; i < order.size(); ++i)
        setTabOrder(order[i - 1], order[i]);
}

void frmSound::connectEvents()
{
    connect(cmdOK, &QPushButton::clicked, this, &frmSound::cmdOK_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &frmSound::cmdCancel_Click);
    connect(cmdApply, &QPushButton::clicked, this, &frmSound::cmdApply_Click);
    connect(cmdBrowse, &QPushButton::clicked, this, &frmSound::cmdBrowse_Click);
    connect(cboOutput, &QComboBox::activated, this, &frmSound::cboOutput_Click);
}

void frmSound::Form_Load()
{
    m_environment = sequora::platform::soundEnvironment();
    m_applied = sequora::platform::loadSettings();
    showSettings(m_applied);
    showEnvironment();
}

void frmSound::listOutputs(const SoundSetup& shown)
{
    cboOutput->clear();
    cboOutput->addItem(kSoftSynth, sequora::platform::writeOutput({}));
    for (const sequora::platform::MidiPort& port : sequora::platform::midiOutputPorts())
        cboOutput->addItem(
            QStringLiteral("ALSA: ") + port.caption(), QStringLiteral("alsa:") + port.address());
    cboOutput->addItem(kNoOutput, QStringLiteral("null"));
    const QString wanted = sequora::platform::writeOutput(shown);
    int index = cboOutput->findData(wanted);
    if (index < 0 && shown.device == SoundSetup::Device::AlsaPort) {
        // A port chosen before that is not there now: still the setting, shown as such.
        cboOutput->insertItem(cboOutput->count() - 1,
            QStringLiteral("ALSA: ") + QString::fromStdString(shown.port)
                + QStringLiteral(" (なし)"),
            wanted);
        index = cboOutput->findData(wanted);
    }
    cboOutput->setCurrentIndex(std::max(index, 0));
}

void frmSound::listSoundFonts(const QByteArray& shown)
{
    cboSoundFont->clear();
    for (const sequora::platform::InstalledSoundFont& font :
        sequora::platform::installedSoundFonts())
        cboSoundFont->addItem(QStringLiteral("%1 (%2)").arg(font.name, font.fileName), font.path);
    selectSoundFont(shown.isEmpty() ? sequora::platform::defaultSoundFont() : shown);
    // A font's name and file can be long: the list opens as wide as they are.
    cboSoundFont->view()->setMinimumWidth(cboSoundFont->view()->sizeHintForColumn(0));
}

void frmSound::selectSoundFont(const QByteArray& path)
{
    if (path.isEmpty()) {
        cboSoundFont->setCurrentIndex(-1);
        return;
    }
    int index = cboSoundFont->findData(path);
    if (index < 0) {
        const sequora::platform::InstalledSoundFont font
            = sequora::platform::describeSoundFont(path);
        cboSoundFont->addItem(
            QStringLiteral("%1 (%2)").arg(font.name, sequora::platform::displayPath(path)), path);
        index = cboSoundFont->count() - 1;
    }
    cboSoundFont->setCurrentIndex(index);
}

void frmSound::showSettings(const PlayerSettings& settings)
{
    // A setting the environment holds shows the environment's value.
    const SoundSetup shown = sequora::platform::effectiveSound(settings);
    listOutputs(m_environment.output.holds() ? shown : settings.sound);
    listSoundFonts(QByteArray::fromStdString(
        m_environment.soundfont.holds() ? shown.soundfont : settings.sound.soundfont));
    chkReverb->setChecked(settings.sound.reverb);
    chkChorus->setChecked(settings.sound.chorus);
    spnLevel->setValue(settings.sound.levelDb);
    spnLoops->setValue(settings.loop.loops);
    spnFade->setValue(settings.loop.fadeMs / 1000);
    cboOutput_Click();
}

void frmSound::showEnvironment()
{
    QStringList notes;
    const auto note = [&](const sequora::platform::EnvironmentHold& hold, const QString& what) {
        if (hold.holds())
            notes << QStringLiteral("%1は環境変数 %2=%3 で決まっています。")
                         .arg(what, hold.variable, hold.value);
    };
    note(m_environment.output, QStringLiteral("出力先"));
    note(m_environment.soundfont, QStringLiteral("ｻｳﾝﾄﾞﾌｫﾝﾄ"));
    lblEnvironment->setText(notes.join(QLatin1Char('\n')));
    cboOutput->setEnabled(!m_environment.output.holds());
}

void frmSound::cboOutput_Click()
{
    // The soundfont, the effects and the level are the soft synth's: a port or no
    // output has none of them. While the environment chooses the output, they stay open
    // to be set for the soft synth.
    const bool softSynth = m_environment.output.holds()
        || cboOutput->currentData().toString() == sequora::platform::writeOutput({});
    cboSoundFont->setEnabled(softSynth && !m_environment.soundfont.holds());
    cmdBrowse->setEnabled(softSynth && !m_environment.soundfont.holds());
    for (QWidget* control : { static_cast<QWidget*>(chkReverb), static_cast<QWidget*>(chkChorus),
             static_cast<QWidget*>(spnLevel) })
        control->setEnabled(softSynth);
}

PlayerSettings frmSound::chosen() const
{
    PlayerSettings settings = m_applied;
    SoundSetup& sound = settings.sound;
    // What the environment holds stays as kept: the window only shows it.
    if (!m_environment.output.holds())
        sequora::platform::readOutput(cboOutput->currentData().toString(), sound);
    if (!m_environment.soundfont.holds() && cboSoundFont->currentIndex() >= 0) {
        const QByteArray font = cboSoundFont->currentData().toByteArray();
        // The default stays the default while it is what is shown.
        if (!(sound.soundfont.empty() && font == sequora::platform::defaultSoundFont()))
            sound.soundfont = font.toStdString();
    }
    sound.reverb = chkReverb->isChecked();
    sound.chorus = chkChorus->isChecked();
    sound.levelDb = spnLevel->value();
    settings.loop = { spnLoops->value(), spnFade->value() * 1000 };
    return settings;
}

bool frmSound::applyChosen()
{
    const PlayerSettings wanted = chosen();
    const sequora::platform::ApplyResult result = sequora::platform::applySettings(wanted);
    if (!result.applied()) {
        QString message;
        if (!result.outputError.isEmpty()) {
            message
                = QStringLiteral("出力先を開けません。\n\n%1\n\n今までの出力先をそのまま使います。")
                      .arg(result.outputError);
        } else {
            const QByteArray font = result.refusedFont;
            message
                = QStringLiteral("ｻｳﾝﾄﾞﾌｫﾝﾄを読み込めません。\n\n%1\n%2\n\n"
                                 "今までのｻｳﾝﾄﾞﾌｫﾝﾄをそのまま使います。")
                      .arg(sequora::platform::displayPath(font), soundFontReason(result.soundfont));
        }
        sequora::platform::MsgBox(message, this);
        showSettings(m_applied);
        return false;
    }
    m_applied = wanted;
    if (result.notSaved)
        sequora::platform::MsgBox(QStringLiteral("設定を保存できません。\n\n%1")
                                      .arg(sequora::platform::settingsFilePath()),
            this);
    return true;
}

void frmSound::cmdApply_Click()
{
    applyChosen();
}

void frmSound::cmdOK_Click()
{
    if (applyChosen())
        close();
}

void frmSound::cmdCancel_Click()
{
    close();
}

void frmSound::cmdBrowse_Click()
{
    const QByteArray current = cboSoundFont->currentData().toByteArray();
    const QString folder = current.isEmpty() ? QDir::homePath()
                                             : QFileInfo(QFile::decodeName(current)).absolutePath();
    const QString file = chooseSoundFont(this, folder);
    if (!file.isEmpty())
        selectSoundFont(QFile::encodeName(file));
}

void frmSound::setBrowseHook(BrowseHook hook)
{
    browseHook() = std::move(hook);
}
