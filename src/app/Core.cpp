#include "app/Core.h"

#include <ctime>

namespace quendo {

int Playlist::FirstSelected() const {
    for (std::size_t i = 0; i < selected.size(); ++i)
        if (selected[i]) return static_cast<int>(i);
    return -1;
}

void Playlist::Insert(int pos, std::string text, std::int32_t file) {
    if (pos < 0) pos = 0;
    if (pos > Count()) pos = Count();
    ListBox1.insert(ListBox1.begin() + pos, std::move(text));
    ListBox2.insert(ListBox2.begin() + pos, file);
    selected.insert(selected.begin() + pos, 0);
}

void Playlist::Erase(int pos) {
    if (pos < 0 || pos >= Count()) return;
    ListBox1.erase(ListBox1.begin() + pos);
    ListBox2.erase(ListBox2.begin() + pos);
    selected.erase(selected.begin() + pos);
}

void Playlist::MoveHeadToEnd() {
    if (Empty()) return;
    // Append a copy, then delete the head: the copy is not selected, as a fresh list item.
    Append(ListBox1.front(), ListBox2.front());
    Erase(0);
}

void Playlist::Clear() {
    ListBox1.clear();
    ListBox2.clear();
    selected.clear();
}

Core::Core(PlatformServices services) : platform(services) {
    platform.deck1.EndOfStream = [this] { WinMediaPlayer1EndOfStream(); };
    platform.deck2.EndOfStream = [this] { WinMediaPlayer2EndOfStream(); };
}

void Core::FormCreate() {
    SetupCancelled = false;
    IngredientPick = 0;
    MenuHandlingEnabled = true;
    platform.random.Seed(static_cast<std::uint32_t>(std::time(nullptr)));
    takenOffNodeId = -1;
    currentDeck = Deck::WinMediaPlayer1;
    envelope.SetDefaults();
}

void Core::FormShow() {
    if (hooks.ShowSplashModal) hooks.ShowSplashModal();
    if (SetupCancelled) return;

    FillCocktailLists();
    FillIngredientLists();
    RestorePlaylist();
    ShowPlaylistTotal();
    BuildFolder = 0;
    if (!options.CheckBox1 && hooks.ShowWelcome) hooks.ShowWelcome();

    if (FirstRun) {
        MakeCocktail();
        FirstRun = false;
        return;
    }
    switch (options.RadioGroup1) {
        case suClearPlaylist:
            ClearPlaylist();
            display.StaticText1 = ":";
            break;
        case suContinueSession:
            StartHeadTrack();
            break;
        case suLoadCocktail:
            ClearPlaylist();
            MakeCocktail();
            break;
        default:
            break;
    }
}

void Core::FormActivate() {
    if (hooks.SetTopmost) hooks.SetTopmost(options.chkAlwaysOnTop);
}

void Core::CloseRequest() {
    MenuHandlingEnabled = false;
    FormClose();
}

void Core::FormClose() {
    if (FirstRun || SetupCancelled) return;
    // Each file on its own: a playlist that cannot be written must not cost the settings.
    if (!SavePlaylist())
        platform.dialogs.Message("The playlist file \"qnd.m3u\" could not be written.", MsgIcon::Error);
    SaveConfiguration();
}

void Core::Timer2Timer() { Timer2Enabled = false; }

static std::string InFolder(const std::string& folder, const char* name) {
    if (folder.empty()) return name;
    if (folder.back() == NodeTable::kSeparator) return folder + name;
    return folder + NodeTable::kSeparator + name;
}

std::string Core::PlaylistFilePath() const { return InFolder(nodes.ProgramFolder, "qnd.m3u"); }
std::string Core::ConfigurationFilePath() const { return InFolder(nodes.ProgramFolder, "qnd.cfg"); }

}  // namespace quendo
