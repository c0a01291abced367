#pragma once
#include <string>

namespace quendo {

// "At startup…" choices.
enum StartupChoice { suClearPlaylist = 0, suContinueSession = 1, suLoadCocktail = 2 };
// "At ending the playlist… " choices.
enum EndingChoice { epLoadCocktail = 0, epWait = 1, epCloseProgram = 2, epShutDown = 3 };

// The options, one field per control of the settings form. The form binds to these directly:
// a toggle changes them at once, OK writes the configuration file, Cancel reads it back.
struct Options {
    std::string Edit1;                  // shows the music folder
    bool chkShowSplash = true;          // "Show splash screen at startup"
    bool chkShowAnimat = true;          // "Show animation" (only the file changes it)
    bool chkMusicFileTimeRem = true;    // "Music file time remaining"
    bool chkAutoMixTimeRem = false;     // "AutoMixing time remaining"
    bool chkAlwaysOnTop = false;        // "Always on top "
    char reservedByte = 0;              // kept in the file, never used
    bool chkAutoStartOfPlaying = false; // "Automatic start of playing " (no effect)
    int RadioGroup1 = suContinueSession;  // "At startup…"
    int RadioGroup2 = epLoadCocktail;     // "At ending the playlist… "
    int ComboBox5 = 0;                  // "Language:", only "English"
    bool CheckBox1 = false;             // welcome dialog: "Don't show me this again"
};

// Down states of the main window's toggle buttons (form defaults); "qnd.cfg" keeps them.
struct TransportButtons {
    bool UP = false;
    bool Play = true;
    bool Shuffle = false;
    bool Repeat = false;
    bool Mix_OFF = false;
};

// The values of a first run, the one place that sets them; the music folder and the language
// are left as they are.
void SetOptionsToFirstRun(Options& o);
void SetButtonsToFirstRun(TransportButtons& b);

}  // namespace quendo
