#pragma once
// The lyrics window: the loaded song's title, the line being sung with what has been
// sung highlighted, the next line, and the sound module's display as the song has
// written it so far. It follows the player's monitor and asks the device nothing.

#include "platform/midi/file/SongText.h"
#include "platform/midi/transport/LoopTimeline.h"

#include <QString>
#include <QWidget>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

class QLabel;
class LcdPicture;
class SongTextLoader;

class frmLyrics : public QWidget {
    Q_OBJECT

public:
    static inline const QString kNoSong = QStringLiteral("曲が読み込まれていません");
    static inline const QString kReading = QStringLiteral("読み込み中...");
    static inline const QString kNoLyrics = QStringLiteral("この曲には歌詞がありません");

    /// A top-level window with no owner; deletes itself when closed.
    explicit frmLyrics(SongTextLoader& loader);

    /// What the monitor has just read: the file open on the device (its bytes; empty
    /// for none) and the position in tenths of a second.
    void follow(const std::string& path, int64_t units);

    /// The current line as plain text (what the line's label says to a screen reader).
    QString currentLine() const;
    /// How many characters of the current line have been sung.
    int sungLength() const { return m_sungLength; }

    QLabel* lblTitle = nullptr;
    QLabel* lblLine1 = nullptr;
    QLabel* lblLine2 = nullptr;
    LcdPicture* picDisplay = nullptr;
    QLabel* lblDisplay = nullptr;

private:
    // A piece of a line that fits the window: syllables [first, end).
    struct Piece {
        std::size_t first = 0;
        std::size_t end = 0;
    };

    // What the lines show: the piece, how much of it is sung, and the next piece.
    struct ShownPiece {
        std::size_t first = SIZE_MAX;
        std::size_t end = 0;
        std::size_t split = 0;
        std::size_t nextFirst = 0;
        std::size_t nextEnd = 0;
        bool operator==(const ShownPiece&) const = default;
    };

    void textsArrived();
    void setSpokenLine(const QString& line);
    void render();
    /// The song's texts from the loader, and the timeline of its loop.
    void takeTexts();
    void showMessage(const QString& title, const QString& message);
    void showLyrics(std::size_t sung);
    void showDisplay(int64_t timeUs);
    /// The pieces the line is cut into where the window's width ends.
    const std::vector<Piece>& piecesOf(std::size_t line);
    QString textOf(const Piece& piece) const;

    SongTextLoader& m_loader;
    std::string m_path;
    std::shared_ptr<const sequora::midi::SongText> m_texts;
    int64_t m_units = 0;
    /// The song's loop as the device plays it: where in the song the position lies.
    sequora::midi::LoopTimeline m_timeline;
    std::unordered_map<std::size_t, std::vector<Piece>> m_pieces;
    int m_sungLength = 0;
    const sequora::midi::ModuleDisplay* m_shownDisplay = nullptr;
    ShownPiece m_shownPiece;
};
