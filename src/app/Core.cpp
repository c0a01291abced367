#include "app/Core.h"

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <utility>

#include "library/AutoMixSettings.h"
#include "model/ProgramFiles.h"

namespace quendo {

Core::Core(PlatformServices services, CoreForms& forms)
    : SettingsModel(services),
      playlist(nodes, platform.probe, display, *this),
      deck({playlist, nodes, envelope, options, buttons, display, platform.deck1, platform.deck2, platform.random,
            *this, autoMix, platform.analysis}),
      cocktails(nodes, playlist, platform.random, display, editor, *this, autoMix, platform.analysis),
      commands({nodes, playlist, deck, cocktails, buttons, display, platform.shell, platform.dialogs, forms, files}),
      startup({nodes, cocktails.Table(), options, buttons, display, platform.dialogs, platform.shell, forms, *this,
               files}),
      optionsKeeper({buttons, display, platform.dialogs, *this}),
      envelopeEditor(envelope),
      recipeEditor(cocktails, nodes, editor, display),
      forms_(forms) {
    platform.deck1.EndOfStream = [this] { WinMediaPlayer1EndOfStream(); };
    platform.deck2.EndOfStream = [this] { WinMediaPlayer2EndOfStream(); };
    envelopeEditor.onListen = [this] { ListenToNextChange(); };
}

void Core::MakeCocktail() { cocktails.MakeCocktail(); }

void Core::CloseProgram() { forms_.CloseMainWindow(); }

void Core::CocktailsRestored() {
    cocktails.FillCocktailLists();
    cocktails.FillIngredientLists();
}

void Core::ShutDown() {
    // The power-off ends the program without a close, so write what a close writes.
    SaveSession();
    const std::string failed = platform.powerOff.PowerOffComputer();
    if (!failed.empty()) platform.dialogs.Message(failed);
}

// An open mix editor follows a mix starting or ending: its length and position bars lock.
void Core::MixRunning(bool running) {
    editor.MixBarsEnabled = !running;
    envelopeEditor.SetMixRunning(running);
    forms_.RenderMixEditor();
}

void Core::FormCreate() {
    startup.SetupCancelled = false;
    cocktails.IngredientPick = 0;
    commands.MenuHandlingEnabled = true;
    platform.random.Seed(static_cast<std::uint32_t>(std::time(nullptr)));
    playlist.SetTakenOff(-1);
    deck.Reset();
    envelope.SetDefaults();
}

void Core::FormShow() {
    sessionUnread_ = true;
    forms_.ShowSplashModal();
    if (startup.SetupCancelled || closeRequested_) return;

    UseChosenOutput();
    cocktails.FillCocktailLists();
    cocktails.FillIngredientLists();
    libraryRead_ = true;
    passGiven_ = false;
    playlist.RestorePlaylist();
    sessionUnread_ = false;
    playlist.ShowPlaylistTotal();
    commands.BuildFolder = 0;
    if (!options.CheckBox1) forms_.ShowWelcome();

    if (startup.FirstRun) {
        cocktails.MakeCocktail();
        startup.FirstRun = false;
        FollowBackgroundPass();
        return;
    }
    switch (options.RadioGroup1) {
        case suClearPlaylist:
            playlist.ClearPlaylist();
            display.StaticText1 = ":";
            break;
        case suContinueSession:
            deck.StartHeadTrack();
            break;
        case suLoadCocktail:
            playlist.ClearPlaylist();
            cocktails.MakeCocktail();
            break;
        default:
            break;
    }
    FollowPlayState();
}

void Core::UseChosenOutput() {
    if (!platform.outputs || autoMix.outputDevice == outputAsked_) return;
    outputAsked_ = autoMix.outputDevice;
    if (!platform.outputs->UseOutputDevice(outputAsked_))
        platform.dialogs.Message("The sound output \"" + outputAsked_ +
                                     "\" could not be opened; the default output plays instead.",
                                 MsgIcon::Warning);
}

void Core::CheckSoundOutput() {
    if (!platform.outputs) return;
    const std::optional<std::string> lost = platform.outputs->CheckOutput();
    // The default itself lost (its server restarted) has been opened again: nothing to tell.
    if (lost && !lost->empty())
        platform.dialogs.Message("The sound output \"" + *lost + "\" was lost; the default output plays on.",
                                 MsgIcon::Warning);
    if (platform.preview)
        if (const std::optional<std::string> gone = platform.preview->CheckDevice())
            platform.dialogs.Message("The pre-listen output \"" + *gone + "\" was lost; the preview has stopped.",
                                     MsgIcon::Warning);
}

void Core::ListenToNextChange() {
    if (!platform.preview) return;
    std::string why;
    const std::optional<PlannedChange> change = deck.PlanChange(kPreviewBeforeSeconds, kPreviewAfterSeconds, why);
    if (!change) {
        platform.dialogs.Message(why, MsgIcon::Information);
        return;
    }
    std::string device = autoMix.preListenDevice;
    if (device.empty()) {
        // The show would be heard with it: without headphones, only a silent main output will do.
        if (platform.deck1.PlayState() == psPlaying || platform.deck2.PlayState() == psPlaying || deck.StartHeld()) {
            platform.dialogs.Message("No pre-listen output is chosen, and the main output plays the show. Choose "
                                     "one (headphones) under \"Pre-listen output\" in the settings, or pause the "
                                     "show to hear the change on the main output.",
                                     MsgIcon::Information);
            return;
        }
        device = autoMix.outputDevice;
    }
    const std::string failed = platform.preview->Listen(*change, device);
    if (!failed.empty()) platform.dialogs.Message(failed, MsgIcon::Warning);
}

void Core::FormActivate() {
    forms_.SetTopmost(options.chkAlwaysOnTop);
}

void Core::CloseRequest() {
    closeRequested_ = true;
    commands.MenuHandlingEnabled = false;
    FormClose();
    FollowPlayState();
}

void Core::FormClose() {
    SaveSession();
    sessionClosed_ = true;
}

namespace {

// An installed copy's folders are the user's, and may not exist yet; a copy's own folder is
// there, or its files cannot be written, which is reported.
void MakeFolder(const std::string& folder) {
    std::error_code ec;
    if (!folder.empty()) std::filesystem::create_directories(folder, ec);
}

}  // namespace

bool Core::SessionWritable() const {
    return !startup.FirstRun && !startup.SetupCancelled && !filesDeleted_ && !sessionUnread_ && !sessionClosed_;
}

// Without its music folder the library is empty, and so would the file be: it waits for the folder.
bool Core::PlaylistWritable() const { return SessionWritable() && !startup.MusicFolderMissing; }

void Core::SaveSession() {
    if (!SessionWritable()) return;
    if (files.installed) MakeFolder(nodes.ProgramFolder);
    // Each file on its own: a playlist that cannot be written must not cost the settings.
    if (PlaylistWritable()) WritePlaylist();
    SaveConfiguration();
}

// A failure is said once, and again only after a write has succeeded in between: the playlist is
// written after every change, and a full disk would otherwise say so every half second.
void Core::WritePlaylist() {
    savedGeneration_ = playlist.Generation();
    if (playlist.SavePlaylist()) {
        playlistFailureShown_ = false;
        return;
    }
    if (std::exchange(playlistFailureShown_, true)) return;
    platform.dialogs.Message("The playlist file \"qnd.m3u\" could not be written.", MsgIcon::Error);
}

bool Core::PlaylistSaveDue() const {
    // Once the close has begun, its own write is the last.
    return autoMix.playlistFollowsPlay && !closeRequested_ && PlaylistWritable() &&
           playlist.Generation() != savedGeneration_;
}

void Core::Timer3Timer() {
    // A failed write is not retried until the next change.
    if (PlaylistSaveDue()) WritePlaylist();
}

void Core::FollowPlayState() {
    FollowBackgroundPass();
    const bool playing = !closeRequested_ && autoMix.stayAwake &&
                         (platform.deck1.PlayState() == psPlaying || platform.deck2.PlayState() == psPlaying);
    if (playing == awakeHeld_) return;
    awakeHeld_ = playing;
    if (platform.awake) platform.awake->Hold(playing);
}

void Core::FollowBeatPlan() {
    const std::uint64_t shown = envelopeEditor.revision;
    const std::optional<BeatMixPlan>& plan = deck.beatPlan();
    // Words only for what the tempi alone do not tell: phrases, or a bass swap.
    const std::string words = plan && (plan->onPhrases || plan->bassSwapAt >= 0)
                                  ? MixInWords(*plan, ShortTitle(deck.currentPath()), ShortTitle(plan->incomingPath))
                                  : "";
    envelopeEditor.ShowRates(autoMix.mixOnBeat, plan, WhyNoBeatPlan(), words);
    envelopeEditor.ShowTracks(autoMix.showTracks);
    if (autoMix.showTracks && envelopeEditor.visible) FollowMixView();
    if (envelopeEditor.revision != shown) forms_.RenderMixEditor();
}

// A running mix keeps the picture it started with, as the decks' positions move on under it.
void Core::FollowMixView() {
    if (!deck.isMixing()) {
        heldMix_.reset();
        envelopeEditor.ShowPlayhead(-1);
        envelopeEditor.ShowMix(NextMixView());
        return;
    }
    if (!heldMix_ || heldFor_ != deck.currentPath()) {
        heldMix_ = NextMixView();
        heldFor_ = deck.currentPath();
    }
    envelopeEditor.ShowMix(*heldMix_);
    const std::optional<BeatMixPlan>& plan = deck.beatPlan();
    const int length = envelope.MixLength();
    double at = deck.mixStep();
    if (plan && plan->length > 0) at = (deck.CurrentPlayer().CurrentPosition() - plan->start) / plan->length * length;
    envelopeEditor.ShowPlayhead(std::clamp(at, 0.0, static_cast<double>(length)));
}

EnvelopeEditor::MixView Core::NextMixView() {
    const std::string current = deck.currentPath();
    std::string next;
    if (deck.isMixing() && !deck.incomingName().empty()) next = nodes.MusicFolder + deck.incomingName();
    else if (nodes.IsFile(playlist.Head())) next = nodes.MusicFolder + nodes.RelativePath(playlist.Head());
    const auto factsOf = [this](const std::string& path) {
        return platform.analysis && !path.empty() ? platform.analysis->Facts(path) : std::nullopt;
    };
    const std::optional<BeatMixPlan>& plan = deck.beatPlan();
    const MixTrack out{current.empty() ? std::string() : ShortTitle(current), factsOf(current)};
    std::optional<MixTrack> in;
    if (!next.empty()) in = MixTrack{ShortTitle(next), factsOf(next)};
    const bool join = in && !current.empty() && !deck.isMixing() && deck.JoinsNext();
    double outStart = 0, inStart = in ? deck.FirstPosition(in->facts) : 0;
    if (join) {
        // The cut in the middle: the one track's last frame, the next one's first.
        const double end = out.facts && out.facts->decodedSeconds > 0 ? out.facts->decodedSeconds
                                                                      : deck.CurrentPlayer().Duration();
        outStart = end - envelope.MixLength() / 2 * 0.1;
        inStart = 0;
    } else if (!current.empty()) {
        outStart = deck.isMixing() ? deck.CurrentPlayer().CurrentPosition() - deck.mixStep() * 0.1 : deck.PlainMixStart();
    }
    EnvelopeEditor::MixView view = LayOutMix(envelope, out, in, join ? std::nullopt : plan, outStart, inStart, join);
    view.lanes[0].shown = !current.empty();
    if (current.empty()) {
        view.nextChange = "No mix: nothing plays";
    } else if (buttons.Mix_OFF && !deck.isMixing()) {
        view.nextChange = "No mix: MixOFF is down";
    } else {
        const std::string why = autoMix.mixOnBeat ? WhyNoBeatPlan() : "mixing on the beat is off";
        view.nextChange = NextChangeText(in.has_value(), join, join ? std::nullopt : plan, why);
        view.nextExists = in.has_value();
    }
    if (plan && !join)
        view.why = plan->onPhrases || plan->bassSwapAt >= 0
                       ? MixInWords(*plan, out.name, in ? in->name : std::string())
                       : TempiInWords(*plan);
    return view;
}

// A track as the mix editor names it: its title where its tags have one, else its file's name.
std::string Core::ShortTitle(const std::string& path) const {
    if (platform.analysis)
        if (const std::optional<TrackFacts> facts = platform.analysis->Facts(path); facts && !facts->tags.title.empty())
            return facts->tags.title;
    std::string name = path.substr(path.find_last_of('/') + 1);
    if (const std::size_t dot = name.find_last_of('.'); dot != std::string::npos && dot > 0) name.erase(dot);
    return name;
}

std::string Core::WhyNoBeatPlan() const {
    if (!autoMix.mixOnBeat || deck.beatPlan()) return {};
    if (deck.currentPath().empty()) return "nothing plays";
    if (buttons.Mix_OFF) return "MixOFF is down";
    if (!platform.analysis) return {};
    // The pair is the one mixing now, or the playing track and the head of the playlist, which
    // a plain mix starts only at its starting position.
    std::string next;
    if (deck.isMixing() && !deck.incomingName().empty()) next = nodes.MusicFolder + deck.incomingName();
    else if (nodes.IsFile(playlist.Head())) next = nodes.MusicFolder + nodes.RelativePath(playlist.Head());
    if (next.empty()) return "no track follows";
    return WhyNotOnTheBeat(platform.analysis->Facts(deck.currentPath()), platform.analysis->Facts(next));
}

// ---- the analysis' background pass ----
//
// The cocktail's choice goes by facts it never waits for: with its switches on, the analysis
// works through the whole library when it has nothing wanted to do. With both off nothing reads
// the facts of files not played, and the pass does not run.

namespace {

// How long before a mix the pass leaves the disk: the next track opens then, or its mix begins.
constexpr std::int64_t kQuietBeforeMixSeconds = 20;
// How long a track that started keeps the pass away: its deck opens the file and fills up.
constexpr int kLoadingTicks = 30;

}  // namespace

void Core::FollowBackgroundPass() {
    TrackAnalysis* analysis = platform.analysis;
    if (!analysis || !libraryRead_) return;
    const bool on = autoMix.keepArtistsApart || autoMix.chooseByKeyAndTempo;
    std::array<std::int32_t, 3> folders{};
    const CocktailTable& table = cocktails.Table();
    if (on && IsCocktailIndex(table.CurrentCocktail))
        for (std::size_t k = 0; k < 3; ++k) {
            const Ingredient& in = table[table.CurrentCocktail].ingredients[k];
            folders[k] = in.parts > 0 ? in.folder : 0;
        }
    if (!passGiven_ || on != passOn_ || folders != passFolders_) {
        passGiven_ = true;
        passOn_ = on;
        passFolders_ = folders;
        analysis->AnalyseInBackground(on ? LibraryForThePass() : std::vector<std::string>{});
    }
    const bool held = on && DecksNeedTheDisk();
    if (held != passHeld_) analysis->HoldBackground(passHeld_ = held);
}

// The current cocktail's files first, its ingredients in turn, as its draws will want them;
// then the rest of the library in the scan's order.
std::vector<std::string> Core::LibraryForThePass() const {
    const std::int32_t count = nodes.FileCount();
    std::vector<std::string> paths;
    paths.reserve(static_cast<std::size_t>(count));
    std::vector<bool> given(static_cast<std::size_t>(count));
    const auto give = [&](std::int32_t f) {
        if (!nodes.IsFile(f) || given[static_cast<std::size_t>(f)]) return;
        given[static_cast<std::size_t>(f)] = true;
        paths.push_back(nodes.FullPath(f));
    };
    for (std::size_t i = 0;; ++i) {
        bool more = false;
        for (std::size_t k = 0; k < 3; ++k) {
            const std::vector<std::int32_t>& files = cocktails.IngredientFiles(static_cast<int>(k));
            if (passFolders_[k] == 0 || i >= files.size()) continue;
            give(files[i]);
            more = true;
        }
        if (!more) break;
    }
    for (std::int32_t f = 0; f < count; ++f) give(f);
    return paths;
}

bool Core::DecksNeedTheDisk() {
    if (deck.tracksStarted() != passTrack_) {
        passTrack_ = deck.tracksStarted();
        loadingTicks_ = kLoadingTicks;
    }
    if (deck.StartHeld() || deck.isMixing()) return true;
    if (!deck.Timer1Enabled() || deck.CurrentPlayer().PlayState() != psPlaying) return false;
    if (loadingTicks_ > 0) return true;
    // Between mixes the gauge fills up to the next mix (to the track's end with MixOFF), from
    // two seconds in.
    return display.CGauge1Max - (display.CGauge1Progress - 2) <= kQuietBeforeMixSeconds;
}

void Core::SetAlwaysOnTop(bool on) {
    if (options.chkAlwaysOnTop == on) return;
    options.chkAlwaysOnTop = on;
    forms_.SetTopmost(on);
}

void Core::RestartIntoFirstRun() {
    forms_.CloseMainWindow();
    // Failures are not reported: at worst the new instance finds the old files.
    std::error_code ec;
    std::filesystem::remove(ConfigurationFilePath(), ec);
    std::filesystem::remove(playlist.PlaylistFilePath(), ec);
    // A late close (a queued end of the playlist) must not write them again for the new one to find.
    filesDeleted_ = true;
    platform.shell.RestartProgram();
}

void Core::SetFirstRunValues(std::int32_t folderCount) {
    cocktails.Table().SetFirstRunValues(folderCount);
    const bool wasOnTop = options.chkAlwaysOnTop;
    SetOptionsToFirstRun(options);
    options.chkAlwaysOnTop = wasOnTop;
    SetAlwaysOnTop(false);
    SetButtonsToFirstRun(buttons);
    options.Edit1 = nodes.MusicFolder;
}

std::string Core::ConfigurationFilePath() const { return BesideExecutable(nodes.ProgramFolder, kConfigurationFileName); }
std::string Core::AutoMixSettingsFilePath() const { return BesideExecutable(nodes.ProgramFolder, kAutoMixFileName); }

ConfigurationData Core::Configuration() const { return {nodes.MusicFolder, cocktails.Table(), options, buttons}; }

bool Core::SaveConfiguration() {
    if (files.installed) MakeFolder(nodes.ProgramFolder);
    if (!quendo::SaveConfiguration(ConfigurationFilePath(), Configuration())) {
        platform.dialogs.Message("Error 0003");
        return false;
    }
    // The automix settings have a file of their own; losing it costs only those.
    if (!SaveAutoMixSettings(AutoMixSettingsFilePath(), autoMix))
        platform.dialogs.Message("The automix settings file \"automix.cfg\" could not be written.", MsgIcon::Error);
    return true;
}

void Core::ReadAutoMixSettings() { autoMix = LoadAutoMixSettings(AutoMixSettingsFilePath()); }

bool Core::LoadConfiguration() {
    ReadAutoMixSettings();
    const std::int32_t folders = nodes.FolderCount() > 0 ? nodes.FolderCount() : NodeTable::kFolderSlots;
    std::optional<ConfigurationData> data = quendo::LoadConfiguration(ConfigurationFilePath(), Configuration(), folders);
    if (!data) {
        platform.dialogs.Message("Error 0002");
        return false;
    }
    cocktails.Table() = data->cocktails;
    nodes.MusicFolder = data->MusicFolder;
    const bool onTop = data->options.chkAlwaysOnTop;
    data->options.chkAlwaysOnTop = options.chkAlwaysOnTop;
    options = data->options;
    SetAlwaysOnTop(onTop);
    buttons = data->buttons;  // the states only: no click actions
    return true;
}

}  // namespace quendo
