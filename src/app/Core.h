#pragma once
#include <cstdint>
#include <string>

#include "app/Commands.h"
#include "app/Display.h"
#include "app/FormHooks.h"
#include "app/Playlist.h"
#include "cocktail/CocktailEditor.h"
#include "cocktail/CocktailMaker.h"
#include "library/Configuration.h"
#include "library/NodeTable.h"
#include "library/StartupSequence.h"
#include "playback/DeckEngine.h"
#include "playback/MediaPlayer.h"
#include "playback/MixEditor.h"
#include "playback/MixEnvelope.h"
#include "platform/Platform.h"
#include "settings/Options.h"
#include "settings/SettingsForm.h"

namespace quendo {

struct PlatformServices {
    MediaPlayer& deck1;
    MediaPlayer& deck2;
    MediaPlayer& probe;
    Shell& shell;
    PowerOff& powerOff;
    Dialogs& dialogs;
    Random& random;
};

// The main window's logic, free of widgets: the owner of all shared state and of the subsystems,
// which it wires together. The forms call the handlers by their names.
class Core {
public:
    explicit Core(PlatformServices services);
    Core(const Core&) = delete;
    Core& operator=(const Core&) = delete;

    PlatformServices platform;

    // ---- shared state ----
    NodeTable nodes;  // also MusicFolder and ProgramFolder
    MixEnvelope envelope;
    Options options;
    TransportButtons buttons;
    MainDisplay display;
    EditorDisplay editor;
    FormHooks hooks;

    // ---- subsystems ----
    Playlist playlist;
    DeckEngine deck;
    CocktailMaker cocktails;
    Commands commands;
    StartupSequence startup;
    SettingsForm settings;
    MixEditor mixEditor;            // follows a mix starting or ending
    CocktailEditor cocktailEditor;  // shows a cocktail chosen in the main window

    // ---- start-up and shut-down ----
    void FormCreate();
    void FormShow();
    void FormActivate();
    void CloseRequest();  // the window's close request: menu handling off, then FormClose
    void FormClose();
    // What a close writes: "qnd.m3u", then "qnd.cfg"; nothing during a first run or a cancelled set-up.
    void SaveSession();
    void SetAlwaysOnTop(bool on);  // the box set by the program counts as a click
    // The change of music folder: the close writes both files, which then go, and the program
    // starts again into its first run.
    void RestartIntoFirstRun();

    // ---- configuration file ----
    bool SaveConfiguration();  // "Error 0003" and false when it cannot be written
    bool LoadConfiguration();  // "Error 0002" and false when it cannot be read
    void SetFirstRunValues(std::int32_t folderCount);
    std::string ConfigurationFilePath() const;

    // ---- the main window's handlers ----
    void UPClick() { deck.UPClick(); }
    void PlayClick() { deck.PlayClick(); }
    void NextClick() { deck.NextClick(); }
    void Mix_OFFClick() { deck.Mix_OFFClick(); }
    void RepeatClick() { deck.RepeatClick(); }
    void ShuffleClick() { deck.ShuffleClick(); }
    void Label1Seek(int x, int labelWidth) { deck.Label1Seek(x, labelWidth); }
    void Timer1Timer() { deck.Timer1Timer(); }
    void Timer2Timer() { commands.Timer2Timer(); }
    void WinMediaPlayer1EndOfStream() { deck.WinMediaPlayer1EndOfStream(); }
    void WinMediaPlayer2EndOfStream() { deck.WinMediaPlayer2EndOfStream(); }
    void MenuCommand(int id) { commands.MenuCommand(id); }
    void FormKeyDown(int key) { commands.FormKeyDown(key); }
    void ComboBox1Change(int index) { cocktails.ComboBox1Change(index); }

private:
    ConfigurationData Configuration() const;
    bool filesDeleted_ = false;  // by the restart: this instance writes nothing more
    // From the start-up until the playlist has been read back, the files hold the session: a
    // close then (a termination signal while the splash screen blocks the user) writes nothing,
    // or it would write an empty playlist over the saved one.
    bool sessionUnread_ = false;
    bool closeRequested_ = false;
};

}  // namespace quendo
