#pragma once
#include <algorithm>
#include <cmath>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "app/Core.h"
#include "app/ProgramLocation.h"

namespace quendo::testing {

// A player with a hand-driven clock. Durations are looked up by full path.
class FakePlayer : public MediaPlayer {
public:
    std::map<std::string, double> durations;  // path -> seconds; unknown paths measure 0
    double defaultDuration = 0;               // used for paths not in the map, when > 0
    std::string fileName;
    double position = 0;
    int volume = 0;
    int balance = 0;
    int state = psStopped;
    double trackGainDb = 0;  // kept apart from `calls`, whose list the older tests compare whole
    double trackCeilingDbfs = HUGE_VAL;  // none
    std::vector<std::string> calls;  // "FileName x", "Play", "Pause", "Volume v", "Balance b", "Seek s"
    // path -> the position where the file stops answering: played there, the clock stands still
    // and the player says it is starved.
    std::map<std::string, double> stallsAt;

    void SetFileName(const std::string& path) override;
    double Duration() override;
    double CurrentPosition() override { return position; }
    void SetCurrentPosition(double seconds) override;
    void SetVolume(int v) override;
    void SetBalance(int b) override;
    void SetTrackGain(double db) override { SetLimitedTrackGain(db, HUGE_VAL); }
    void SetLimitedTrackGain(double db, double ceilingDbfs) override {
        trackGainDb = db;
        trackCeilingDbfs = ceilingDbfs;
    }
    int PlayState() override { return state; }
    bool Starved() override;
    void Play() override;
    void Pause() override;

    // Playing in step, when `inStep` (otherwise a player that cannot, as the interface has it):
    // the plan and the cue are noted in `calls` ("RatePlan 10:1.06 18:1", "PlayAfterOther 93.2
    // seamless", "PlayAfterOther end faded"); the position moves at the plan's rate; a cued
    // player starts when `other` plays past the point (or its last frame), the step's overshoot
    // carried, whichever of the two is advanced first.
    bool inStep = false;
    FakePlayer* other = nullptr;  // FakeWorld links its two decks
    std::vector<RatePoint> plan;
    bool CanPlayInStep() const override { return inStep; }
    void SetRatePlan(std::vector<RatePoint> p) override;
    void PlayAfterOther(double otherSeconds, bool seamless) override;
    bool Cued() const { return cued_; }
    // Cutting the bass, when `inStep`: the plan is kept as given (a new file drops it).
    std::vector<BassPoint> bassPlan;
    bool CanCutBass() const override { return inStep; }
    void SetBassPlan(std::vector<BassPoint> p) override { bassPlan = std::move(p); }

    // Advances the clock while playing (up to where the file stops answering); raises EndOfStream
    // once at the end of the file.
    void Advance(double seconds);
    int openedCount = 0;

private:
    double RateAt(double seconds) const;
    // Plays on for `seconds` heard, which end at clock_.
    void Move(double seconds);
    double clock_ = 0;  // seconds advanced, playing or not
    bool cued_ = false;
    // A file that did not open plays nothing: asked to, the player raises its end at the next
    // advance, as the engine's deck does.
    bool failPending_ = false;
    double cue_ = 0;                    // the other's position to start at
    std::optional<double> startClock_;  // the clock at which the other reached it
};

class FakeShell : public Shell {
public:
    std::vector<std::string> opened;
    bool fails = false;  // as a desktop without a handler
    int restarts = 0;
    bool Open(const std::string& target) override {
        opened.push_back(target);
        return !fails;
    }
    void RestartProgram() override { ++restarts; }
};

class FakePowerOff : public PowerOff {
public:
    int requests = 0;
    std::string failure;  // the call name to report, "" for success
    std::string PowerOffComputer() override {
        ++requests;
        return failure;
    }
};

struct ShownMessage {
    std::string text;
    MsgIcon icon;
    MsgButtons buttons;
    MsgPlace place;
};

class FakeDialogs : public Dialogs {
public:
    std::vector<ShownMessage> shown;
    std::deque<MsgAnswer> answers;  // taken in order; Ok when empty
    std::function<void()> whileShown;  // what happens while a box is up, as the timers go on
    MsgAnswer Message(const std::string& text, MsgIcon icon, MsgButtons buttons, MsgPlace place) override {
        shown.push_back({text, icon, buttons, place});
        if (whileShown) whileShown();
        if (answers.empty()) return MsgAnswer::Ok;
        MsgAnswer a = answers.front();
        answers.pop_front();
        return a;
    }
};

// The forms as the core sees them: each call runs the test's handler in `on` when it has one,
// and does nothing otherwise; the chooser then gives up and the executable is this test program.
class FakeForms : public CoreForms {
public:
    struct Handlers {
        std::function<void()> ShowAboutBox, ShowMixEditor, ShowSettings;
        std::function<int()> MainWindowOuterHeight;
        std::function<void(int)> SetMainWindowOuterHeight;
        std::function<std::optional<std::string>()> ShowBrowseModal;
        std::function<void()> HideSplash, StartSlideOut, CloseSplash;
        std::function<void()> ShowSplashModal, ShowWelcome, RenderMixEditor, HideSettings, CloseMainWindow;
        std::function<void(bool)> SetTopmost;
    } on;

    void ShowAboutBox() override { Run(on.ShowAboutBox); }
    void ShowMixEditor() override { Run(on.ShowMixEditor); }
    void ShowSettings() override { Run(on.ShowSettings); }
    int MainWindowOuterHeight() const override { return on.MainWindowOuterHeight ? on.MainWindowOuterHeight() : 0; }
    void SetMainWindowOuterHeight(int outer) override {
        if (on.SetMainWindowOuterHeight) on.SetMainWindowOuterHeight(outer);
    }
    std::optional<std::string> ShowBrowseModal() override {
        return on.ShowBrowseModal ? on.ShowBrowseModal() : std::nullopt;
    }
    void HideSplash() override { Run(on.HideSplash); }
    void StartSlideOut() override { Run(on.StartSlideOut); }
    void CloseSplash() override { Run(on.CloseSplash); }
    void ShowSplashModal() override { Run(on.ShowSplashModal); }
    void ShowWelcome() override { Run(on.ShowWelcome); }
    void RenderMixEditor() override { Run(on.RenderMixEditor); }
    void HideSettings() override { Run(on.HideSettings); }
    void CloseMainWindow() override { Run(on.CloseMainWindow); }
    void SetTopmost(bool topmost) override {
        if (on.SetTopmost) on.SetTopmost(topmost);
    }

private:
    static void Run(const std::function<void()>& handler) {
        if (handler) handler();
    }
};

// An analysis as the real one answers: a file's facts (what the test says the file holds) only
// once it has been asked for and worked on, which Work() does for the files wanted then.
class FakeAnalysis : public TrackAnalysis {
public:
    std::map<std::string, TrackFacts> known;  // by full path: what the file would be found to hold
    std::vector<std::string> wanted;           // every path asked for, in the order asked
    std::optional<TrackFacts> Facts(const std::string& path) override {
        const auto it = known.find(path);
        if (it == known.end() || !done_.count(path)) return std::nullopt;
        return it->second;
    }
    void Want(const std::vector<std::string>& paths) override {
        wanted.insert(wanted.end(), paths.begin(), paths.end());
        wishes_ = paths;
    }
    // The worker's turn: the files wanted now are analysed.
    void Work() { done_.insert(wishes_.begin(), wishes_.end()); }
    // A file analysed earlier, in the background: its facts are known without a wish.
    void Analysed(const std::string& path) { done_.insert(path); }
    Progress progress;  // what the background pass reports
    Progress BackgroundProgress() override { return progress; }
    // The background pass as the core drives it: the last list given, how many were, the hold.
    std::vector<std::string> background;
    int backgroundLists = 0;
    bool held = false;
    void AnalyseInBackground(const std::vector<std::string>& paths) override {
        background = paths;
        ++backgroundLists;
    }
    void HoldBackground(bool h) override { held = h; }

private:
    std::vector<std::string> wishes_;
    std::set<std::string> done_;
};

// Sound outputs as the test tells them: a device not in `devices` cannot be opened.
class FakeOutputs : public SoundOutputs {
public:
    std::vector<std::string> devices;
    std::vector<std::string> asked;    // each UseOutputDevice, in order
    std::string inUse;                 // "" the default
    std::optional<std::string> lost;   // the next CheckOutput reports it, once
    std::vector<std::string> OutputDevices() override { return devices; }
    bool UseOutputDevice(const std::string& name) override {
        asked.push_back(name);
        const bool found = name.empty() || std::find(devices.begin(), devices.end(), name) != devices.end();
        inUse = found ? name : "";
        return found;
    }
    std::optional<std::string> CheckOutput() override {
        if (lost) inUse.clear();
        return std::exchange(lost, std::nullopt);
    }
};

// A Core wired to fakes, for driving handlers without a display or a sound card.
struct FakeWorld {
    FakePlayer deck1, deck2, probe;
    FakeShell shell;
    FakePowerOff powerOff;
    FakeDialogs dialogs;
    StdRandom random;
    FakeForms forms;
    FakeOutputs outputs;
    std::unique_ptr<Core> core;

    // With an analysis (which must outlive the world) the automix listens; without, it goes by
    // the files' lengths. The two decks are each other's other.
    explicit FakeWorld(TrackAnalysis* analysis = nullptr);
    // Adds a file to the table (creating folders along the relative path) with a probe length.
    std::int32_t AddFile(const std::string& relativePath, double seconds);
    // As after a first run: the program folder is `programFolder`, the music folder "/music/",
    // and the settings their first-run values for 7 folders.
    void FirstRunIn(const std::string& programFolder);
    // Starts the head track if nothing plays, then a crossfade at once: the track is put at its end.
    void StartMix();
    // Ticks until the running mix is over.
    void FinishMix();
    FakePlayer& CurrentDeck() { return core->deck.currentDeck() == Deck::WinMediaPlayer1 ? deck1 : deck2; }
};

// A core over decks and a probe of the caller's (the real engine's, in the benchmarks), its
// shell, dialogs and forms faked.
struct CoreOver {
    FakeShell shell;
    FakePowerOff powerOff;
    FakeDialogs dialogs;
    FakeForms forms;
    StdRandom random;
    Core core;
    CoreOver(MediaPlayer& deck1, MediaPlayer& deck2, MediaPlayer& probe, TrackAnalysis* analysis = nullptr)
        : core({deck1, deck2, probe, shell, powerOff, dialogs, random, analysis}, forms) {}
};

// A fresh temporary folder, removed with everything below it at destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    // path() + "/" + relative
    std::string operator/(const std::string& relative) const { return path_ + "/" + relative; }
    void WriteFile(const std::string& relative, const std::string& content) const;
    std::string ReadFile(const std::string& relative) const;
    // Every file below the folder, relative to it, sorted.
    std::vector<std::string> FilesBelow() const;

private:
    std::string path_;
};

}  // namespace quendo::testing
