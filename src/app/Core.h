#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "app/Commands.h"
#include "model/Display.h"
#include "app/Playlist.h"
#include "cocktail/RecipeEditor.h"
#include "cocktail/CocktailMaker.h"
#include "library/Configuration.h"
#include "model/NodeTable.h"
#include "library/StartupSequence.h"
#include "playback/DeckEngine.h"
#include "model/MediaPlayer.h"
#include "playback/EnvelopeEditor.h"
#include "model/MixEnvelope.h"
#include "model/Platform.h"
#include "model/AutoMixOptions.h"
#include "model/ChangePreview.h"
#include "model/Options.h"
#include "model/PlatformServices.h"
#include "model/ProgramFiles.h"
#include "model/SettingsModel.h"
#include "model/SoundOutputs.h"
#include "model/TrackFacts.h"
#include "settings/OptionsKeeper.h"

namespace quendo {

// What the core needs of the forms: those the menu commands open, the start-up's splash screen
// and chooser, and the rest below.
class CoreForms : public CommandForms, public StartupScreens {
public:
    virtual void ShowSplashModal() = 0;  // runs the start-up sequence while it is up
    virtual void ShowWelcome() = 0;
    virtual void RenderMixEditor() = 0;  // after a mix started or ended
    virtual void HideSettings() = 0;
    virtual void CloseMainWindow() = 0;    // a close request, as if by the user
    virtual void SetTopmost(bool on) = 0;  // without moving or resizing

protected:
    ~CoreForms() = default;
};

// The main window's logic, free of widgets: the owner of all shared state and of the subsystems,
// which it wires together. The forms call the handlers by their names.
class Core final : public SettingsModel,
                   public FolderChoiceOwner,
                   private PlaylistDeck,
                   private DeckEngineOwner,
                   private CocktailMakerOwner,
                   private StartupOwner,
                   private OptionsKeeperOwner {
public:
    Core(PlatformServices services, CoreForms& forms);
    Core(const Core&) = delete;
    Core& operator=(const Core&) = delete;

    // ---- shared state ----
    // Also, as the settings form's model: platform, options and autoMix.
    NodeTable nodes;  // also MusicFolder and ProgramFolder
    ProgramFiles files;  // where the program's files live, set before the start-up
    MixEnvelope envelope;
    TransportButtons buttons;
    MainDisplay display;
    EditorDisplay editor;

    // ---- subsystems ----
    Playlist playlist;
    DeckEngine deck;
    CocktailMaker cocktails;
    Commands commands;
    StartupSequence startup;
    OptionsKeeper optionsKeeper;    // the settings form's OK, Cancel and "To change..."
    EnvelopeEditor envelopeEditor;  // the mix editor's steps; follows a mix starting or ending
    RecipeEditor recipeEditor;      // the cocktail page's steps; shows a cocktail chosen in the main window

    // ---- start-up and shut-down ----
    void FormCreate();
    void FormShow();
    void FormActivate();
    void CloseRequest();  // the window's close request: menu handling off, then FormClose
    bool Closing() const { return closeRequested_; }
    void FormClose();  // the last write of the session: nothing is written after it
    // What a close writes: "qnd.m3u", then "qnd.cfg"; nothing during a first run or a cancelled
    // set-up, and no "qnd.m3u" while the music folder is missing.
    void SaveSession();
    void SetAlwaysOnTop(bool on) override;  // the box set by the program counts as a click
    // The settings form's OK, Cancel and "To change...".
    void KeepOptions() override { optionsKeeper.BitBtn1Click(); }
    void DropOptionChanges() override { optionsKeeper.BitBtn2Click(); }
    void ChangeMusicFolder() override { optionsKeeper.Button2Click(); }
    bool BrowseCancelClick() override { return startup.BrowseCancelClick(); }
    // The change of music folder: the close writes both files, which then go, and the program
    // starts again into its first run.
    void RestartIntoFirstRun() override;

    // ---- configuration file ----
    bool SaveConfiguration() override;  // "Error 0003" and false when it cannot be written
    bool LoadConfiguration() override;  // "Error 0002" and false when it cannot be read
    void ReadAutoMixSettings() override;
    void SetFirstRunValues(std::int32_t folderCount) override;
    std::string ConfigurationFilePath() const;
    std::string AutoMixSettingsFilePath() const;  // beside it, read and written with it

    // ---- the main window's handlers ----
    // Those that may start or stop a track end by following the play state.
    void UPClick() { deck.UPClick(); FollowPlayState(); }
    void PlayClick() { deck.PlayClick(); FollowPlayState(); }
    void NextClick() { deck.NextClick(); FollowPlayState(); }
    void Mix_OFFClick() { deck.Mix_OFFClick(); }
    void RepeatClick() { deck.RepeatClick(); }
    void ShuffleClick() { deck.ShuffleClick(); }
    void Label1Seek(int x, int labelWidth) { deck.Label1Seek(x, labelWidth); }
    // Once the close has begun (its error box may be up a while) the decks start nothing more.
    void Timer1Timer() {
        if (closeRequested_) return;
        deck.Timer1Timer();
        FollowBeatPlan();
        if (loadingTicks_ > 0) --loadingTicks_;
        FollowPlayState();
    }
    void Timer2Timer() { commands.Timer2Timer(); }
    void WinMediaPlayer1EndOfStream() {
        if (closeRequested_) return;
        deck.WinMediaPlayer1EndOfStream();
        FollowPlayState();
    }
    void WinMediaPlayer2EndOfStream() {
        if (closeRequested_) return;
        deck.WinMediaPlayer2EndOfStream();
        FollowPlayState();
    }
    void MenuCommand(int id) {
        commands.MenuCommand(id);
        FollowPlayState();
        if (envelopeEditor.visible) FollowBeatPlan();  // a cleared playlist leaves no next change
    }
    void FormKeyDown(int key) { commands.FormKeyDown(key); FollowPlayState(); }
    void ComboBox1Change(int index) {
        cocktails.ComboBox1Change(index);
        FollowBackgroundPass();  // the new cocktail's files first
    }
    // Now and then: a sound device lost while playing gives way to the default, which is said once.
    void CheckSoundOutput();
    // The mix editor's "Listen": the next change, from a few seconds before it to a few after, on
    // the pre-listen output; with none chosen, on the main output while nothing plays there.
    void ListenToNextChange();
    static constexpr double kPreviewBeforeSeconds = 4, kPreviewAfterSeconds = 4;

    // ---- the playlist file following play ----
    // A change of the playlist is written this long after it, with every change made meanwhile:
    // well inside a second, with time left for the write.
    static constexpr int kPlaylistSaveDelayMs = 500;
    // Timer3, single-shot at kPlaylistSaveDelayMs, runs while this holds.
    bool PlaylistSaveDue() const;
    void Timer3Timer();
    // Holds the computer awake while a deck plays, and lets it go otherwise; holds the analysis'
    // background pass while the decks need the disk.
    void FollowPlayState();
    // The mix editor's rate page follows the mix on the beat that runs or comes next, and the
    // "Mix on the beat" switch; the editor is drawn again only when what it shows changes.
    void FollowBeatPlan();

private:
    // What the playlist asks of the deck engine, passed on.
    bool isMixing() const override { return deck.isMixing(); }
    void StartHeadTrack() override { deck.StartHeadTrack(); }
    void HeadChanged() override {
        deck.WantAhead();
        if (envelopeEditor.visible) FollowBeatPlan();  // the next change may be another now
    }
    // What the deck engine asks of the window: the end-of-playlist choices and a mix running.
    void MakeCocktail() override;
    void CloseProgram() override;
    void ShutDown() override;
    void MixRunning(bool running) override;
    // A cocktail chosen in the main window is shown whole, so that a parts change goes into the
    // cocktail the page shows.
    void CocktailChosen() override { recipeEditor.ShowCocktailPage(); }
    // What the start-up sequence and the settings' buttons ask of the window.
    void CloseMainWindow() override { forms_.CloseMainWindow(); }
    void CocktailsRestored() override;
    void MixOffRestored() override { deck.Mix_OFFClick(); }
    void HideSettings() override {
        forms_.HideSettings();
        FollowBackgroundPass();  // the switches may have changed
    }
    // The output device chosen in the AutoMix settings, when it is not the one asked for yet;
    // one that cannot be opened leaves the default playing, and is said.
    void UseChosenOutput() override;

    CoreForms& forms_;

    ConfigurationData Configuration() const;
    bool filesDeleted_ = false;  // by the restart: this instance writes nothing more
    bool sessionClosed_ = false;  // the close has written the session
    // From the start-up until the playlist has been read back, the files hold the session: a
    // close then (a termination signal while the splash screen blocks the user) writes nothing,
    // or it would write an empty playlist over the saved one.
    bool sessionUnread_ = false;
    bool closeRequested_ = false;
    std::string outputAsked_;  // the device last asked of the outputs: "" the default
    std::uint64_t savedGeneration_ = 0;  // of the playlist as the file holds it
    bool playlistFailureShown_ = false;  // since the last write that succeeded
    bool awakeHeld_ = false;
    // Why the next mix is a plain one, as far as can be told; "" when it cannot.
    std::string WhyNoBeatPlan() const;
    std::string ShortTitle(const std::string& path) const;
    // The mix editor's picture of the change that runs or comes next, and its playhead.
    void FollowMixView();
    EnvelopeEditor::MixView NextMixView();
    std::optional<EnvelopeEditor::MixView> heldMix_;  // the running mix's, as it started
    std::string heldFor_;                             // the outgoing track it was made for

    // The analysis' background pass: the library's files while a switch that draws by their
    // facts is on, held while a deck loads, a mix runs or one is near.
    void FollowBackgroundPass();
    bool DecksNeedTheDisk();
    std::vector<std::string> LibraryForThePass() const;
    bool libraryRead_ = false;  // the start-up's scan is over: the pass may have the library
    bool passGiven_ = false;    // a list (the library, or none) went to the analysis since the scan
    bool passOn_ = false;       // that list was the library
    std::array<std::int32_t, 3> passFolders_{};  // the folders whose files it gave first
    bool passHeld_ = false;
    std::uint64_t passTrack_ = 0;  // the deck engine's tracksStarted() when last looked at
    int loadingTicks_ = 0;         // ticks the track started last may still be filling its deck
    bool SessionWritable() const;
    bool PlaylistWritable() const;
    void WritePlaylist();
};

}  // namespace quendo
