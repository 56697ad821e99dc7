#include "info/frmLyrics.h"

#include "info/LcdPicture.h"
#include "info/SongTextLoader.h"
#include "platform/desktop/Fonts.h"
#include "platform/desktop/Twips.h"
#include "platform/midi/transport/Sequencer.h"

#include <QLabel>
#include <QScreen>

using sequora::midi::ModuleDisplay;
using sequora::midi::SongText;
using sequora::platform::twips;

namespace {

constexpr int kClientWidth = 7095;
constexpr int kClientHeight = 2760;
constexpr int kMargin = 120;
constexpr double kTitlePoints = 10.5;
constexpr double kLinePoints = 16.0;
constexpr double kNextLinePoints = 13.0;
constexpr double kDisplayPoints = 12.0;
constexpr int64_t kUsPerUnit = 100000;

const QColor kSung(0, 80, 200);
const QColor kNextLine(96, 96, 96);
const QColor kLcdPanel(178, 196, 96);
const QColor kLcdText(34, 40, 16);

QString fromUtf8(std::string_view s)
{
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

QLabel* label(
    QWidget* parent, const char* name, const QFont& font, int left, int top, int width, int height)
{
    auto* l = new QLabel(parent);
    l->setObjectName(QString::fromLatin1(name));
    l->setFont(font);
    l->setGeometry(twips(left), twips(top), twips(width), twips(height));
    l->setTextFormat(Qt::PlainText);
    return l;
}

} // namespace

frmLyrics::frmLyrics(SongTextLoader& loader)
    : QWidget(nullptr,
        Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint
            | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint)
    , m_loader(loader)
{
    setObjectName(QStringLiteral("frmLyrics"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("歌詞"));
    setFixedSize(twips(kClientWidth), twips(kClientHeight));

    const int inner = kClientWidth - 2 * kMargin;
    lblTitle = label(this, "lblTitle", sequora::platform::pGothicFont(kTitlePoints, 700), kMargin,
        90, inner, 300);
    lblLine1 = label(
        this, "lblLine1", sequora::platform::pGothicFont(kLinePoints), kMargin, 450, inner, 540);
    lblLine1->setTextFormat(Qt::RichText);
    lblLine2 = label(this, "lblLine2", sequora::platform::pGothicFont(kNextLinePoints), kMargin,
        1020, inner, 450);
    QPalette grey = lblLine2->palette();
    grey.setColor(QPalette::WindowText, kNextLine);
    lblLine2->setPalette(grey);

    // The module's display: the dot picture and its line of letters, on the LCD's panel.
    picDisplay = new LcdPicture(this);
    picDisplay->setObjectName(QStringLiteral("picDisplay"));
    picDisplay->setGeometry(twips(kMargin), twips(1620), twips(1020), twips(1020));
    picDisplay->setAccessibleName(QStringLiteral("音源の表示 (ﾄﾞｯﾄ)"));
    lblDisplay = label(this, "lblDisplay", sequora::platform::gothicFont(kDisplayPoints),
        kMargin + 1140, 1620, inner - 1140, 1020);
    lblDisplay->setAutoFillBackground(true);
    QPalette lcd = lblDisplay->palette();
    lcd.setColor(QPalette::Window, kLcdPanel);
    lcd.setColor(QPalette::WindowText, kLcdText);
    lblDisplay->setPalette(lcd);
    lblDisplay->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    lblDisplay->setIndent(twips(90));
    // Its letters are its name for a screen reader; this says what they are.
    lblDisplay->setAccessibleDescription(QStringLiteral("音源の表示"));

    connect(&m_loader, &SongTextLoader::loaded, this, &frmLyrics::textsArrived);
    render();

    if (QScreen* where = screen())
        move(where->availableGeometry().center() - rect().center());
}

void frmLyrics::follow(const std::string& path, int64_t units)
{
    m_units = units;
    if (path != m_path) {
        m_path = path;
        m_texts.reset();
        m_pieces.clear();
        m_shownDisplay = nullptr;
        m_shownPiece = {};
    }
    if (!m_texts && !m_path.empty())
        takeTexts();
    render();
}

void frmLyrics::takeTexts()
{
    m_texts = m_loader.texts(m_path);
    if (m_texts)
        m_timeline = sequora::midi::LoopTimeline(m_texts->loop(), m_texts->lengthUs(),
            sequora::midi::engine::sequencer().loopPlayback());
}

void frmLyrics::textsArrived()
{
    if (m_path.empty() || m_texts)
        return;
    takeTexts();
    m_shownDisplay = nullptr;
    m_shownPiece = {};
    render();
}

QString frmLyrics::currentLine() const
{
    return lblLine1->accessibleName();
}

void frmLyrics::render()
{
    if (m_path.empty()) {
        showMessage(QString(), kNoSong);
        showDisplay(-1);
        return;
    }
    if (!m_texts) {
        showMessage(QString(), kReading);
        showDisplay(-1);
        return;
    }
    // In a loop's later passes, the words of the same place in the song.
    const int64_t timeUs = m_timeline.songUs(m_units * kUsPerUnit);
    if (m_texts->syllableCount() == 0)
        showMessage(QString::fromStdString(m_texts->title()), kNoLyrics);
    else
        showLyrics(m_texts->sungBy(timeUs));
    showDisplay(timeUs);
}

void frmLyrics::showMessage(const QString& title, const QString& message)
{
    m_shownPiece = {};
    lblTitle->setText(title);
    lblLine1->setText(message.toHtmlEscaped());
    setSpokenLine(message);
    lblLine2->clear();
    m_sungLength = 0;
}

void frmLyrics::setSpokenLine(const QString& line)
{
    // Every change of a name is an event for the screen reader: one a line, not a tick.
    if (lblLine1->accessibleName() != line)
        lblLine1->setAccessibleName(line);
}

void frmLyrics::showLyrics(std::size_t sung)
{
    const SongText& song = *m_texts;
    lblTitle->setText(QString::fromStdString(song.title()));

    // The syllable being sung, or the first one before the song's words begin.
    const std::size_t current = sung > 0 ? sung - 1 : 0;
    const std::size_t line = song.lineOf(current);
    const std::vector<Piece>& pieces = piecesOf(line);
    std::size_t p = 0;
    while (p + 1 < pieces.size() && pieces[p + 1].first <= current)
        ++p;
    const Piece& piece = pieces[p];
    Piece next;
    if (p + 1 < pieces.size())
        next = pieces[p + 1];
    else if (line + 1 < song.lines().size())
        next = piecesOf(line + 1).front();

    const std::size_t split = std::clamp(sung, piece.first, piece.end);
    // Most ticks change nothing on the screen.
    const ShownPiece shown { piece.first, piece.end, split, next.first, next.end };
    if (shown == m_shownPiece)
        return;
    m_shownPiece = shown;
    const QString before = textOf({ piece.first, split });
    const QString after = textOf({ split, piece.end });
    lblLine1->setText(QStringLiteral("<span style=\"color:%1\">%2</span>%3")
                          .arg(kSung.name(), before.toHtmlEscaped(), after.toHtmlEscaped()));
    setSpokenLine(before + after);
    lblLine2->setText(textOf(next));
    m_sungLength = int(before.size());
}

void frmLyrics::showDisplay(int64_t timeUs)
{
    const ModuleDisplay* shown = timeUs >= 0 && m_texts ? m_texts->displayAt(timeUs) : nullptr;
    if (shown == m_shownDisplay && shown != nullptr)
        return;
    m_shownDisplay = shown;
    static const ModuleDisplay kBlank;
    const ModuleDisplay& display = shown != nullptr ? *shown : kBlank;
    picDisplay->setDots(display);
    lblDisplay->setText(
        QString::fromLatin1(display.letters.data(), qsizetype(display.letters.size())).trimmed());
}

const std::vector<frmLyrics::Piece>& frmLyrics::piecesOf(std::size_t line)
{
    auto found = m_pieces.find(line);
    if (found != m_pieces.end())
        return found->second;
    // Cut where the line's label ends, between syllables; a syllable wider than the
    // whole label stands alone.
    const sequora::midi::LyricLine& l = m_texts->lines()[line];
    const QFontMetrics metrics(lblLine1->font());
    const int width = lblLine1->contentsRect().width();
    std::vector<Piece> pieces { { l.first, l.first } };
    int used = 0;
    for (std::size_t i = l.first; i < std::size_t(l.first) + l.count; ++i) {
        const int advance = metrics.horizontalAdvance(fromUtf8(m_texts->syllable(i)));
        if (used + advance > width && pieces.back().end > pieces.back().first) {
            pieces.push_back({ i, i });
            used = 0;
        }
        used += advance;
        pieces.back().end = i + 1;
    }
    return m_pieces.emplace(line, std::move(pieces)).first->second;
}

QString frmLyrics::textOf(const Piece& piece) const
{
    QString out;
    for (std::size_t i = piece.first; i < piece.end; ++i)
        out += fromUtf8(m_texts->syllable(i));
    return out;
}
