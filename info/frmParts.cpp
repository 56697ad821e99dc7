#include "info/frmParts.h"

#include "info/KeyShiftBox.h"
#include "info/PartMeters.h"
#include "platform/desktop/Fonts.h"
#include "platform/desktop/Twips.h"
#include "platform/midi/transport/Sequencer.h"
#include "player/ListenerCommands.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QToolButton>

#include <algorithm>

using sequora::midi::PartsView;
using sequora::midi::PartView;
using sequora::midi::TransportState;
using sequora::platform::twips;
namespace engine = sequora::midi::engine;
namespace player = sequora::player;

namespace {

// The layout, in twips: a black panel of rows under a line of headings, the foot below.
constexpr int kMargin = 120;
constexpr int kHeadingTop = 60;
constexpr int kHeadingHeight = 240;
constexpr int kRowsTop = 330;
constexpr int kRowPitch = 300;
constexpr int kRowHeight = 270;
constexpr int kNumberLeft = 120;
constexpr int kNumberWidth = 390;
constexpr int kNameLeft = 570;
constexpr int kNameWidth = 2400;
constexpr int kLevelLeft = 3060;
constexpr int kLevelWidth = 1200;
constexpr int kKeysLeft = 4350;
constexpr int kToggleWidth = 330;
constexpr int kToggleGap = 60;
constexpr int kFootHeight = 600;
constexpr double kRowPoints = 9.0;

const QColor kDisplay(128, 128, 0);
const QColor kDimmed(64, 64, 0);
const QColor kHeading(96, 96, 48);

// The toggles in the display's colours: olive on black, black on olive when on.
const QString kToggleStyle = QStringLiteral(
    "QToolButton { background: black; color: rgb(128,128,0); border: 1px solid rgb(64,64,0); }"
    "QToolButton:checked { background: rgb(128,128,0); color: black; }"
    "QToolButton:disabled { color: rgb(48,48,0); }");

int keysWidth()
{
    return KeyStrip::keyboardWidth() * sequora::platform::kTwipsPerPixel;
}

int muteLeft()
{
    return kKeysLeft + keysWidth() + 2 * kToggleGap;
}

int panelWidth()
{
    return muteLeft() + 2 * kToggleWidth + kToggleGap + kMargin;
}

int panelHeight(int rowCount)
{
    return kRowsTop + rowCount * kRowPitch + kMargin / 2;
}

void place(QWidget* widget, int left, int top, int width, int height)
{
    widget->setGeometry(twips(left), twips(top), twips(width), twips(height));
}

QLabel* displayLabel(
    QWidget* parent, const QString& text, const QColor& colour, Qt::Alignment align)
{
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setFont(sequora::platform::gothicFont(kRowPoints));
    label->setAlignment(align | Qt::AlignVCenter);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colour);
    label->setPalette(palette);
    return label;
}

QToolButton* toggle(QWidget* parent, const QString& text, const QString& spokenName)
{
    auto* button = new QToolButton(parent);
    button->setText(text);
    button->setCheckable(true);
    button->setStyleSheet(kToggleStyle);
    button->setFont(sequora::platform::gothicFont(kRowPoints));
    button->setAccessibleName(spokenName);
    return button;
}

bool sameRequest(const PartView& a, const PartView& b)
{
    const uint8_t kinds = PartView::Used | PartView::Drum;
    return a.bank == b.bank && a.program == b.program && (a.flags & kinds) == (b.flags & kinds);
}

} // namespace

frmParts::frmParts(Dispatch dispatch)
    : QWidget(nullptr,
        Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint
            | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint)
    , m_dispatch(std::move(dispatch))
{
    setObjectName(QStringLiteral("frmParts"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("ﾊﾟｰﾄ"));

    m_panel = new QWidget(this);
    m_panel->setObjectName(QStringLiteral("picParts"));
    QPalette black = m_panel->palette();
    black.setColor(QPalette::Window, Qt::black);
    m_panel->setPalette(black);
    m_panel->setAutoFillBackground(true);

    const struct {
        const char* text;
        int left;
        int width;
    } headings[] = {
        { "ﾊﾟｰﾄ", kNumberLeft, kNumberWidth + 120 },
        { "音色", kNameLeft + 120, kNameWidth },
        { "ﾚﾍﾞﾙ", kLevelLeft, kLevelWidth },
        { "鍵盤", kKeysLeft, keysWidth() },
        { "M", muteLeft(), kToggleWidth },
        { "S", muteLeft() + kToggleWidth + kToggleGap, kToggleWidth },
    };
    for (const auto& h : headings) {
        QLabel* heading = displayLabel(m_panel, QString::fromUtf8(h.text), kHeading, Qt::AlignLeft);
        place(heading, h.left, kHeadingTop, h.width, kHeadingHeight);
        if (h.width == kToggleWidth)
            heading->setAlignment(Qt::AlignCenter);
    }
    for (int part = 0; part < PartsView::kMaxParts; ++part)
        buildRow(m_panel, part);
    meters = new PartMeters(PartsView::kMaxParts, twips(kRowPitch), twips(kRowHeight),
        twips(kLevelWidth), twips(kKeysLeft - kLevelLeft), m_panel);
    meters->setObjectName(QStringLiteral("picMeters"));
    meters->setAccessibleName(QStringLiteral("ﾚﾍﾞﾙと鍵盤"));
    buildFoot();

    m_timer.setInterval(kSampleIntervalMs);
    m_timer.setObjectName(QStringLiteral("tmrSample"));
    connect(&m_timer, &QTimer::timeout, this, &frmParts::tmrSample_Timer);

    showRowCount(PartsView::kPartsPerPort);
    sample();
    if (QScreen* where = screen())
        move(where->availableGeometry().center() - rect().center());
}

void frmParts::buildRow(QWidget* panel, int part)
{
    Row row;
    const int top = kRowsTop + part * kRowPitch;
    const QString number = QString::number(part + 1);
    row.number = displayLabel(panel, number, kDisplay, Qt::AlignRight);
    place(row.number, kNumberLeft, top, kNumberWidth, kRowHeight);
    row.name = displayLabel(panel, kUnused, kDisplay, Qt::AlignLeft);
    place(row.name, kNameLeft + 120, top, kNameWidth - 120, kRowHeight);
    row.name->setObjectName(QStringLiteral("lblName%1").arg(part + 1));
    row.mute = toggle(panel, QStringLiteral("M"), QStringLiteral("ﾊﾟｰﾄ %1 ﾐｭｰﾄ").arg(number));
    place(row.mute, muteLeft(), top, kToggleWidth, kRowHeight);
    row.solo = toggle(panel, QStringLiteral("S"), QStringLiteral("ﾊﾟｰﾄ %1 ｿﾛ").arg(number));
    place(row.solo, muteLeft() + kToggleWidth + kToggleGap, top, kToggleWidth, kRowHeight);
    // Toggled, not clicked: a screen reader's toggle action sets the state without a click.
    connect(row.mute, &QToolButton::toggled, this,
        [this, part](bool on) { change([part, on] { player::setPartMuted(part + 1, on); }); });
    connect(row.solo, &QToolButton::toggled, this,
        [this, part](bool on) { change([part, on] { player::setPartSoloed(part + 1, on); }); });
    rows.append(row);
}

void frmParts::buildFoot()
{
    m_foot = new QWidget(this);
    m_foot->setObjectName(QStringLiteral("fraFoot"));
    auto* layout = new QHBoxLayout(m_foot);
    layout->setContentsMargins(twips(kMargin), 0, twips(kMargin), 0);
    const QFont font = sequora::platform::gothicFont(kRowPoints + 1);

    auto* keyLabel = new QLabel(QStringLiteral("ｷｰ(&K):"), m_foot);
    spnTranspose = new KeyShiftBox(m_foot);
    spnTranspose->setObjectName(QStringLiteral("spnTranspose"));
    spnTranspose->setRange(sequora::midi::ListenerSettings::kMinTranspose,
        sequora::midi::ListenerSettings::kMaxTranspose);
    spnTranspose->setSuffix(QStringLiteral(" 半音"));
    keyLabel->setBuddy(spnTranspose);

    auto* tempoLabel = new QLabel(QStringLiteral("ﾃﾝﾎﾟ(&T):"), m_foot);
    spnTempo = new QSpinBox(m_foot);
    spnTempo->setObjectName(QStringLiteral("spnTempo"));
    spnTempo->setRange(
        sequora::midi::TempoScale::kMinPercent, sequora::midi::TempoScale::kMaxPercent);
    spnTempo->setSingleStep(5);
    spnTempo->setSuffix(QStringLiteral(" %"));
    tempoLabel->setBuddy(spnTempo);

    cmdReset = new QPushButton(QStringLiteral("ﾘｾｯﾄ"), m_foot);
    cmdReset->setObjectName(QStringLiteral("cmdReset"));

    for (QWidget* w :
        std::initializer_list<QWidget*> { keyLabel, spnTranspose, tempoLabel, spnTempo, cmdReset })
        w->setFont(font);
    for (QSpinBox* box : { spnTranspose, spnTempo }) {
        // Typing "150" must not send 1 and 15 on the way.
        box->setKeyboardTracking(false);
        box->setAccelerated(true);
    }
    layout->addWidget(keyLabel);
    layout->addWidget(spnTranspose);
    layout->addSpacing(twips(240));
    layout->addWidget(tempoLabel);
    layout->addWidget(spnTempo);
    layout->addStretch();
    layout->addWidget(cmdReset);

    connect(spnTranspose, &QSpinBox::valueChanged, this,
        [this](int semitones) { change([semitones] { player::setTranspose(semitones); }); });
    connect(spnTempo, &QSpinBox::valueChanged, this,
        [this](int percent) { change([percent] { player::setTempo(percent); }); });
    connect(cmdReset, &QPushButton::clicked, this,
        [this] { change([] { player::resetListening(); }); });
}

void frmParts::showRowCount(int count)
{
    count = std::clamp(count, 1, int(PartsView::kMaxParts));
    if (count == m_rowsShown)
        return;
    m_rowsShown = count;
    for (int i = 0; i < rows.size(); ++i) {
        const bool shown = i < count;
        for (QWidget* w : std::initializer_list<QWidget*> {
                 rows[i].number, rows[i].name, rows[i].mute, rows[i].solo })
            w->setVisible(shown);
    }
    place(meters, kLevelLeft, kRowsTop, kKeysLeft + keysWidth() - kLevelLeft, count * kRowPitch);
    place(m_panel, 0, 0, panelWidth(), panelHeight(count));
    place(m_foot, 0, panelHeight(count), panelWidth(), kFootHeight);
    setFixedSize(twips(panelWidth()), twips(panelHeight(count) + kFootHeight));
}

void frmParts::follow()
{
    // A minimised window shows nothing either.
    const bool run
        = isVisible() && !isMinimized() && engine::sequencer().state() == TransportState::Playing;
    if (run) {
        if (!m_timer.isActive()) {
            m_sinceSample.start();
            m_timer.start();
            sample();
        }
        return;
    }
    m_timer.stop();
    sample();
}

void frmParts::tmrSample_Timer()
{
    if (engine::sequencer().state() != TransportState::Playing)
        m_timer.stop();
    sample();
}

void frmParts::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    follow();
}

void frmParts::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange)
        follow();
}

void frmParts::hideEvent(QHideEvent* event)
{
    m_timer.stop();
    QWidget::hideEvent(event);
}

void frmParts::sample()
{
    const sequora::midi::Sequencer& seq = engine::sequencer();
    PartsView view;
    if (!seq.readParts(view))
        return; // the audio side is publishing this very moment: the next tick reads it
    const bool playing = seq.state() == TransportState::Playing;
    int elapsed = 0;
    if (m_sinceSample.isValid())
        elapsed = int(std::min<qint64>(m_sinceSample.restart(), 1000));
    else
        m_sinceSample.start();
    // A tick with nothing new published changes nothing on the screen, but the peak marks.
    if (view.serial == m_shownSerial && playing == m_shownPlaying && playing) {
        for (int i = 0; i < m_rowsShown; ++i)
            meters->setRow(i, rows[i].shown.level, rows[i].shown.keys, elapsed);
        return;
    }
    display(view, playing, elapsed);
    m_shownSerial = view.serial;
    m_shownPlaying = playing;
    showOpen(seq.isOpen());
}

void frmParts::showOpen(bool open)
{
    if (m_shownOpen == int(open))
        return;
    m_shownOpen = int(open);
    for (QWidget* w : std::initializer_list<QWidget*> { spnTranspose, spnTempo, cmdReset })
        w->setEnabled(open);
    for (Row& row : rows) {
        row.mute->setEnabled(open);
        row.solo->setEnabled(open);
    }
}

void frmParts::display(const PartsView& view, bool playing, int elapsedMs)
{
    showRowCount(view.partCount);
    // At rest the names are asked afresh: the soundfont may have come since they were.
    const bool refreshNames = !playing;
    for (int i = 0; i < m_rowsShown; ++i)
        showRow(i, view.parts[std::size_t(i)], playing, elapsedMs, refreshNames);
    if (!playing)
        meters->silence(); // stopped or paused, nothing sounds
    // Set only when they differ: a spin box given its own value still redraws itself.
    const QSignalBlocker keyBlock(spnTranspose);
    const QSignalBlocker tempoBlock(spnTempo);
    if (spnTranspose->value() != view.transpose)
        spnTranspose->setValue(view.transpose);
    if (spnTempo->value() != view.tempoPercent)
        spnTempo->setValue(view.tempoPercent);
}

void frmParts::showRow(
    int index, const PartView& part, bool playing, int elapsedMs, bool refreshName)
{
    Row& row = rows[index];
    if (!row.named || refreshName || !sameRequest(row.shown, part)) {
        const QString name = part.has(PartView::Used)
            ? QString::fromStdString(engine::sequencer().instrumentName(part))
            : kUnused;
        if (row.name->text() != name)
            row.name->setText(name);
    }
    const uint8_t kSettings = PartView::Muted | PartView::Soloed | PartView::Silenced;
    if (!row.named || (part.flags & kSettings) != (row.shown.flags & kSettings)) {
        // A part not heard (muted, or left out of a solo) is named in a dimmer colour.
        QPalette palette = row.name->palette();
        palette.setColor(QPalette::WindowText, part.has(PartView::Silenced) ? kDimmed : kDisplay);
        row.name->setPalette(palette);
        const QSignalBlocker muteBlock(row.mute);
        const QSignalBlocker soloBlock(row.solo);
        row.mute->setChecked(part.has(PartView::Muted));
        row.solo->setChecked(part.has(PartView::Soloed));
    }
    if (playing)
        meters->setRow(index, part.level, part.keys, elapsedMs);
    row.shown = part;
    row.named = true;
}

void frmParts::change(const std::function<void()>& commands)
{
    m_dispatch(commands);
    // What the engine made of it: a refused change shows as it was.
    m_shownSerial = 0;
    sample();
}
