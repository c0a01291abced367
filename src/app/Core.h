#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "cocktail/CocktailTable.h"
#include "library/NodeTable.h"
#include "playback/MediaPlayer.h"
#include "playback/MixEnvelope.h"
#include "platform/Platform.h"
#include "settings/Options.h"

namespace quendo {

enum class Colour { WindowText, Green, Aqua, Yellow };
enum class Deck { WinMediaPlayer1, WinMediaPlayer2 };

// The playlist: two parallel lists (display texts, file indices) and ListBox1's selection.
struct Playlist {
    std::vector<std::string> ListBox1;
    std::vector<std::int32_t> ListBox2;
    std::vector<char> selected;

    int Count() const { return static_cast<int>(ListBox2.size()); }
    bool Empty() const { return ListBox2.empty(); }
    int FirstSelected() const;  // -1 when nothing is selected
    void Insert(int pos, std::string text, std::int32_t file);
    void Append(std::string text, std::int32_t file) { Insert(Count(), std::move(text), file); }
    void Erase(int pos);
    void MoveHeadToEnd();
    void Clear();
};

// Down states of the main window's toggle buttons (form defaults).
struct TransportButtons {
    bool UP = false;
    bool Play = true;
    bool Shuffle = false;
    bool Repeat = false;
    bool Mix_OFF = false;
};

// What the main window shows, set by the handlers and copied into the widgets after each event.
struct MainDisplay {
    std::string StaticText1 = ":";
    std::string StaticText2 = ":";
    std::string StaticText3 = ":";
    std::string Label1Caption;
    std::string Label1Hint;
    int CGauge1Max = 100;
    int CGauge1Progress = 0;
    Colour CGauge1Colour = Colour::Aqua;
    std::string Label6;
    std::string Label7;
    bool NextEnabled = true;
    bool MixOffEnabled = true;
    bool ShuffleEnabled = false;
    Colour RepeatCaptionColour = Colour::WindowText;
    Colour ShuffleCaptionColour = Colour::WindowText;
    std::vector<std::string> ComboBox1Items;
    int ComboBox1ItemIndex = -1;
};

// State the core sets on the other forms.
struct EditorDisplay {
    bool MixBarsEnabled = true;                    // mix editor: length, finishing, starting bars
    std::vector<std::string> ComboBox4Items;       // cocktail editor's cocktail list
    int ComboBox4ItemIndex = -1;
    std::array<std::string, 3> IngredientFolderLabels;  // Label8, Label9, Label10
};

// Calls from the core into the forms. All optional: tests leave out what they do not need.
struct FormHooks {
    std::function<void()> ShowSplashModal;  // runs the start-up sequence while it is up
    std::function<void()> ShowAboutBox;
    std::function<void()> ShowWelcome;
    std::function<void()> ShowMixEditor;
    std::function<void()> ShowSettings;
    std::function<void()> CloseMainWindow;  // a close request, as if by the user
    std::function<void(bool)> SetTopmost;   // without moving or resizing
    // command menus: the main window's outer (frame) height in pixels, read and set
    std::function<int()> MainWindowOuterHeight;
    std::function<void(int)> SetMainWindowOuterHeight;
};

// ---- start-up sequence ----
// What the start-up sequence needs from the splash screen, the directory chooser and the
// system; the forms fill it in, tests pass fakes. All optional.
struct StartupHooks {
    // Shows the directory chooser modally: the chosen folder, or nothing when the user gave up.
    std::function<std::optional<std::string>()> ShowBrowseModal;
    std::function<void()> HideSplash;     // the scan then runs with nothing shown
    std::function<void()> StartSlideOut;  // the splash closes itself at the bottom of the screen
    std::function<void()> CloseSplash;    // "OK" in place of "Loading ...", closed at once
    std::function<std::string()> ExecutablePath;  // "" when unknown; /proc/self/exe when unset
};

struct PlatformServices {
    MediaPlayer& deck1;
    MediaPlayer& deck2;
    MediaPlayer& probe;
    Shell& shell;
    PowerOff& powerOff;
    Dialogs& dialogs;
    Random& random;
};

// The main window's logic and shared state, free of widgets.
class Core {
public:
    explicit Core(PlatformServices services);
    Core(const Core&) = delete;
    Core& operator=(const Core&) = delete;

    // ---- shared state ----
    NodeTable nodes;  // also MusicFolder and ProgramFolder
    MixEnvelope envelope;
    CocktailTable cocktailTable;
    std::array<std::vector<std::int32_t>, 3> IngredientFiles;  // ListBox3..5
    Playlist playlist;
    Options options;
    TransportButtons buttons;
    MainDisplay display;
    EditorDisplay editor;
    FormHooks hooks;

    Deck currentDeck = Deck::WinMediaPlayer1;
    Deck incomingDeck = Deck::WinMediaPlayer2;
    bool isMixing = false;
    int mixStep = 0;
    int trackLength = 0;
    std::string incomingName;
    std::int32_t takenOffNodeId = -1;
    std::int32_t incomingNodeId = -1;  // file started on the incoming deck during a mix
    // ---- deck engine ----
    bool incomingEnded = false;  // the incoming deck played to its end before its mix was over

    bool Timer1Enabled = false;  // automix tick, 100 ms
    bool Timer2Enabled = false;  // menu hook guard, 200 ms
    bool FirstRun = false;
    bool SetupCancelled = false;
    bool MenuHandlingEnabled = false;
    int IngredientPick = 0;
    int BuildFolder = 0;

    PlatformServices platform;
    MediaPlayer& Player(Deck d) { return d == Deck::WinMediaPlayer1 ? platform.deck1 : platform.deck2; }
    MediaPlayer& CurrentPlayer() { return Player(currentDeck); }
    MediaPlayer& IncomingPlayer() { return Player(incomingDeck); }

    // ---- start-up and shut-down (Core.cpp) ----
    void FormCreate();
    void FormShow();
    void FormActivate();
    void CloseRequest();  // the window's close request: menu handling off, then FormClose
    void FormClose();
    void Timer2Timer();
    std::string PlaylistFilePath() const;
    std::string ConfigurationFilePath() const;

    // ---- playlist (Playlist.cpp) ----
    static std::string TimeText(std::int32_t n);
    void AddToPlaylist(std::int32_t k);
    void DeleteSelectedEntries();
    void ClearPlaylist();
    void ShowPlaylistTotal();
    void RestorePlaylist();
    bool SavePlaylist();  // false when the file could not be written; the old file then stays

    // ---- deck engine and automix tick (DeckEngine.cpp) ----
    void StartHeadTrack();
    void AdvancePlaylist();
    void TrackEnded();
    void FinishPlaylist();
    void UPClick();
    void PlayClick();
    void NextClick();
    void Mix_OFFClick();
    void RepeatClick();
    void ShuffleClick();
    void WinMediaPlayer1EndOfStream();
    void WinMediaPlayer2EndOfStream();
    void Label1Seek(int x, int labelWidth);
    void Timer1Timer();

    // ---- cocktails (Cocktail.cpp) ----
    void MakeCocktail();
    void FillIngredientLists();
    void FillCocktailLists();           // both cocktail lists from the table, CurrentCocktail selected
    void ComboBox1Change(int index);

    // ---- command menus (FolderMenus.cpp) ----
    void MenuCommand(int id);                     // a file index, or 65000..65010
    void AddFolderFiles(std::int32_t folder);      // the files lying directly in it, in menu order
    void PickIngredientFolder(std::int32_t folder);  // the cocktail editor's pick, IngredientPick 1..3
    void FormKeyDown(int key);                    // 'B', 'V', 'C', 'X', 'R', 'S'
    std::string HelpFilePath() const;

    // ---- configuration file (Configuration.cpp) ----
    bool SaveConfiguration();  // "Error 0003" and false when it cannot be written
    bool LoadConfiguration();  // "Error 0002" and false when it cannot be read
    void SetFirstRunValues(std::int32_t folderCount);

    // ---- start-up sequence (StartupSequence.cpp) ----
    StartupHooks startupHooks;
    void RunStartupSequence();   // the splash screen's first tick
    bool BrowseCancelClick();    // the chooser's Cancel: true to show the chooser again
    void SetAlwaysOnTop(bool on);  // the box set by the program counts as a click
    void SplashLinkClick(const std::string& address);  // a link label released
};

}  // namespace quendo
