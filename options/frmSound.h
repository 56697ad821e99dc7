#pragma once
// The sound settings window "音源の設定": where the player's MIDI goes (the soft synth,
// an ALSA sequencer port, nowhere), the soft synth's soundfont, its reverb and chorus,
// the listening level, and how songs with a marked loop play. Applied at once without
// losing the place, kept in the user's configuration folder. A setting an environment
// variable holds is shown with the variable's value and cannot be changed here.

#include "platform/Settings.h"

#include <QString>
#include <QWidget>

#include <functional>

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QPushButton;
class QSpinBox;

class frmSound : public QWidget {
    Q_OBJECT

public:
    /// A top-level window with no owner; deletes itself when closed.
    frmSound();

    /// Lists the outputs (the ALSA ports as they are now) and the installed soundfonts,
    /// and shows the settings kept.
    void Form_Load();

    // Controls, named as in the layout (each also its objectName).
    QLabel* lblOutput = nullptr;
    QComboBox* cboOutput = nullptr;
    QLabel* lblSoundFont = nullptr;
    QComboBox* cboSoundFont = nullptr;
    QPushButton* cmdBrowse = nullptr;
    QCheckBox* chkReverb = nullptr;
    QCheckBox* chkChorus = nullptr;
    QLabel* lblLevel = nullptr;
    QDoubleSpinBox* spnLevel = nullptr;
    QLabel* lblLoops = nullptr;
    QSpinBox* spnLoops = nullptr;
    QLabel* lblFade = nullptr;
    QSpinBox* spnFade = nullptr;
    QLabel* lblEnvironment = nullptr;
    QPushButton* cmdOK = nullptr;
    QPushButton* cmdCancel = nullptr;
    QPushButton* cmdApply = nullptr;

    // Event procedures.
    void cmdOK_Click();
    void cmdCancel_Click();
    void cmdApply_Click();
    void cmdBrowse_Click();
    void cboOutput_Click();

    /// The settings the controls show.
    sequora::platform::PlayerSettings chosen() const;
    /// Applies and keeps chosen(); on a refusal says why in a box and shows the settings
    /// in use again. Whether they were applied.
    bool applyChosen();

    /// Tests replace the soundfont dialog: the hook gets the folder it would open in and
    /// returns the "chosen" file (empty for cancel). Empty restores the dialog.
    using BrowseHook = std::function<QString(const QString& folder)>;
    static void setBrowseHook(BrowseHook hook);

private:
    void buildLayout();
    void connectEvents();
    void listOutputs(const sequora::midi::SoundSetup& shown);
    void listSoundFonts(const QByteArray& shown);
    /// Selects the soundfont at path, adding it to the list when it is not there.
    void selectSoundFont(const QByteArray& path);
    void showSettings(const sequora::platform::PlayerSettings& settings);
    void showEnvironment();

    /// The settings applied last: what is kept, and what a refusal returns to.
    sequora::platform::PlayerSettings m_applied;
    sequora::platform::SoundEnvironment m_environment;
};
