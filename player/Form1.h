#pragma once
// The player window. Player state lives in the controls; the only state of the window's
// own is the device object (and bookkeeping for the secondary windows it shows).

#include "platform/CommandLine.h"
#include "playlist/PlaylistHolder.h"

#include <QElapsedTimer>
#include <QList>
#include <QMainWindow>
#include <QPointer>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <utility>

class QAction;
class QComboBox;
class QDragEnterEvent;
class QDragMoveEvent;
class QDropEvent;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QTimer;
class QToolBar;
class QWidget;

class clsMIDI;
class ClickLabel;
class Form2;
class frmAbout;
class frmLyrics;
class frmParts;
class frmRead;
class frmSound;
class SongTextLoader;

class Form1 : public QMainWindow, public PlaylistHolder {
    Q_OBJECT

public:
    Form1();
    ~Form1() override;

    /// Start-up. False when another copy runs: the message has been shown and the
    /// program must end without showing this window.
    bool Form_Load();

    // Controls, named as in the layout (each also its objectName).
    QToolBar* tbToolBar = nullptr;
    QComboBox* Combo1 = nullptr;
    QPushButton* Command13 = nullptr;
    QWidget* Picture1 = nullptr;
    ClickLabel* Label3 = nullptr;
    ClickLabel* Label7 = nullptr;
    QPushButton* Command6 = nullptr;
    QTimer* Timer1 = nullptr;
    QLineEdit* Text1 = nullptr;
    QPushButton* Command12 = nullptr;
    QPushButton* Command11 = nullptr;
    QPushButton* Command9 = nullptr;
    QPushButton* Command8 = nullptr;
    QPushButton* Command4 = nullptr;
    QPushButton* Command3 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label6 = nullptr;

    QMenu* mnuFile = nullptr;
    QAction* mnuFileList = nullptr;
    QAction* mnuFileBar1 = nullptr;
    QAction* mnuFileExit = nullptr;
    QMenu* mnuView = nullptr;
    QAction* mnuViewToolbar = nullptr;
    QAction* mnuViewInfo = nullptr;
    QAction* mnuViewBar1 = nullptr;
    QAction* mnuViewTime1 = nullptr;
    QAction* mnuViewTime2 = nullptr;
    QAction* mnuViewBar2 = nullptr;
    QAction* mnuViewVol = nullptr;
    QAction* mnuViewBar3 = nullptr;
    QAction* mnuViewLyrics = nullptr;
    QAction* mnuViewParts = nullptr;
    QMenu* mnuOption = nullptr;
    QAction* mnuRandPlay = nullptr;
    QAction* mnuRenPlay = nullptr;
    QAction* mnuIntoPlay = nullptr;
    QAction* mnuOptionBar1 = nullptr;
    QAction* mnuSound = nullptr;
    QMenu* mnuHelp = nullptr;
    QAction* mnuHelpRead = nullptr;
    QAction* mnuHelpBar = nullptr;
    QAction* mnuHelpAbout = nullptr;

    /// The toolbar button with this key ("ListEdit", "TimeStart", ...), or null.
    QAction* toolButton(const QString& key) const;
    /// Writes a toolbar button's pressed state (1 pressed, 0 not).
    void setToolButtonValue(const QString& key, int value);

    /// Selects entry index of Combo1 from code and runs Combo1_Click at once, also when
    /// that entry was selected already.
    void selectEntry(int index);
    /// Combo1's entry at index; empty text for -1 or past the end.
    QString listText(int index) const;
    /// The file Combo1's entry at index names, byte for byte, as the device opens it: an
    /// entry's text shows its name decoded, its bytes travel with it.
    QByteArray entryFile(int index) const;

    /// Writes Label1's caption and runs Label1_Change: every write is a hand-over signal.
    void setLabel1Caption(const QString& caption);

    // The Playlist's hand-over, as the editor's OK makes it.
    QWidget& playlistWindow() override { return *this; }
    QList<sequora::platform::NamedPath> playlistEntries() const override;
    /// Combo1 becomes entries (in one insertion, no choice of track meanwhile), then
    /// Label1's signal selects and loads entry 0.
    void takePlaylist(const QList<sequora::platform::NamedPath>& entries) override;

    /// Where songs from outside come from.
    enum class SongSource {
        Start, ///< the command line, or a second start's
        Other, ///< the media controls, a drop
    };
    /// Songs from outside the program: the command line, a second start, the media
    /// controls, a drop. Handed over as the editor's OK hands a Playlist over, then the
    /// first entry plays; with request.enqueue (or a start moments after another, as
    /// when a file manager starts the program twice) appended instead, and what plays
    /// plays on. What was skipped is said in one box. While a dialog or box is up the
    /// request waits for it to close; once the window unloads it is dropped.
    void openSongs(
        const sequora::platform::StartRequest& request, SongSource source = SongSource::Start);
    /// Shows the window in front of the others (a second start raises it).
    void bringToFront();
    /// Whether requests wait for a dialog or box to close.
    bool songsPending() const { return !m_pendingSongs.isEmpty(); }

    /// Held around each event procedure that reaches the window from outside its own code
    /// (the controls' signals, the editor's hand-over, the desktop's media controls). The
    /// monitor's timer rests while nothing the monitor reads can change by itself; so once
    /// the outermost procedure has returned, the monitor runs once, as its next tick would
    /// have (a resting one has none coming), and its timer ticks again if the device now
    /// plays.
    class EventScope {
    public:
        explicit EventScope(Form1& form)
            : m_form(form)
        {
            ++m_form.m_eventDepth;
        }
        ~EventScope()
        {
            if (--m_form.m_eventDepth == 0)
                m_form.catchUpMonitor();
        }
        EventScope(const EventScope&) = delete;
        EventScope& operator=(const EventScope&) = delete;

    private:
        Form1& m_form;
    };

    /// Runs an event procedure (a member procedure with this, or any callable) inside an
    /// EventScope.
    template <typename Procedure, typename... Args>
    void dispatch(Procedure&& procedure, Args&&... args)
    {
        const EventScope scope(*this);
        std::invoke(std::forward<Procedure>(procedure), std::forward<Args>(args)...);
    }

    /// From the first track loaded until the window unloads, whether the monitor is
    /// ticking or resting.
    bool trackLoaded() const;

    // Event procedures.
    void Form_Unload();
    void mnuFileExit_Click();
    void Combo1_Click();
    void Command3_Click();
    void Command4_Click();
    void Command8_Click();
    void Timer1_Timer();
    void Command9_Click();
    void Command11_Click();
    void Command12_Click();
    void Command6_Click();
    void Command13_Click();
    void mnuFileList_Click();
    void Label1_Change();
    void mnuRandPlay_Click();
    void mnuRenPlay_Click();
    void mnuIntoPlay_Click();
    void tbToolBar_ButtonClick(const QString& key);
    void mnuViewTime1_Click();
    void mnuViewTime2_Click();
    void Label3_Click();
    void Label7_Click();
    void mnuViewToolbar_Click();
    void mnuViewInfo_Click();
    void mnuViewVol_Click();
    void mnuViewLyrics_Click();
    void mnuViewParts_Click();
    void mnuHelpAbout_Click();
    void mnuHelpRead_Click();
    void mnuSound_Click();

    /// Fixes the window's size so that the client area below the menu bar is pixels high
    /// (the width stays 310). The view toggles change the height this way.
    void setClientHeight(int pixels);

    /// The device object, created on first use.
    clsMIDI& device();
    /// Releases the device object (its release stops and closes the device).
    void releaseDevice();

    /// True once Form_Unload has begun: the program is ending and takes no more commands.
    bool unloading() const { return m_unloading; }

    QPointer<Form2> editor() const { return m_editor; }
    QPointer<frmAbout> aboutWindow() const { return m_about; }
    QPointer<frmRead> readmeWindow() const { return m_readme; }
    QPointer<frmLyrics> lyricsWindow() const { return m_lyrics; }
    QPointer<frmSound> soundWindow() const { return m_sound; }
    QPointer<frmParts> partsWindow() const { return m_parts; }
    /// The loaded song's texts, read off the window's thread.
    SongTextLoader& songTexts() const { return *m_songTexts; }

signals:
    /// An event procedure from outside has returned and the monitor has caught up with
    /// it, or the monitor has come to rest: until the next event or tick, the window
    /// shows what it shows now.
    void caughtUp();

protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void buildLayout();
    void buildMenus();
    void buildToolbar();
    void connectEvents();
    void setLoadedPattern();
    void closeAllWindows();
    QList<QWidget*> secondaryWindows() const;
    /// Whether the next tick could change nothing until an event comes.
    bool monitorMayRest();
    /// After a tick: stops the timer while the monitor may rest.
    void restMonitorIfSettled();
    /// After the outermost event procedure: the run a resting monitor would have made.
    void catchUpMonitor();
    /// Appends entries to Combo1 in one insertion; the current entry stays.
    void appendToPlaylist(const QList<sequora::platform::NamedPath>& entries);
    /// openSongs' work, once the window takes input.
    void takeSongs(const sequora::platform::StartRequest& request, SongSource source);
    void takePendingSongs();

    std::unique_ptr<clsMIDI> m_device;
    QPointer<Form2> m_editor;
    QPointer<frmAbout> m_about;
    QPointer<frmRead> m_readme;
    QPointer<frmLyrics> m_lyrics;
    QPointer<frmSound> m_sound;
    QPointer<frmParts> m_parts;
    SongTextLoader* m_songTexts = nullptr;
    // The position the monitor read last, in tenths of a second: what the lyrics window
    // shows when it opens while the monitor rests.
    int64_t m_monitorUnits = 0;
    bool m_unloading = false;
    bool m_inMonitor = false;
    // The monitor's last run ended with nothing to do: no track over, or one whose
    // moving on changed nothing.
    bool m_monitorSettled = false;
    int m_eventDepth = 0;
    // The seconds Label3 shows (it has no other writer than the monitor), so that a run
    // builds the text only when it changes; -1 before the first run.
    int64_t m_shownSeconds = -1;
    // Whether the pass through the Playlist that began at its first entry has met a
    // track the device could play: a Playlist of broken files under continuous play
    // stops after one pass instead of cycling for ever. None begun yet counts as played.
    bool m_passPlayedSomething = true;
    // Songs from outside that wait for a dialog or box to close, and when the last ones
    // came: a second request within moments joins them rather than replacing them.
    QList<std::pair<sequora::platform::StartRequest, SongSource>> m_pendingSongs;
    QElapsedTimer m_songsArrived;
};
