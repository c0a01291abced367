#include "support/Soak.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <set>
#include <sstream>
#include <unordered_map>

#include "app/Core.h"
#include "app/FolderMenuContents.h"
#include "playback/EnvelopeEditor.h"
#include "support/Fakes.h"

namespace quendo::testing {

std::string SoakReport::Describe() const {
    std::ostringstream s;
    s << "seed " << seed << " (replay with QUENDO_SOAK_SEED=" << seed << "): " << violations << " violations in "
      << simulatedSeconds / 3600 << " simulated hours\n";
    for (const SoakViolation& v : firstViolations) {
        s << "  at " << v.simulatedSeconds << " s: " << v.what << "\n";
        for (const std::string& a : v.lastActions) s << "      after " << a << "\n";
    }
    return s.str();
}

namespace {

constexpr double kTick = 0.1;  // Timer1's interval
constexpr double kGuard = 0.2;  // Timer2's interval
constexpr const char* kMixCaption = "                    A u t o M i x i n g";
constexpr int kStripWidth = 273;
constexpr std::size_t kKeptActions = 8;
constexpr std::size_t kKeptViolations = 10;

// A fake player that reports each file it is given.
class ObservedPlayer : public FakePlayer {
public:
    std::function<void(const std::string&)> opened;
    void SetFileName(const std::string& path) override {
        FakePlayer::SetFileName(path);
        if (opened) opened(path);
    }
    void Close() {
        fileName.clear();
        position = 0;
        state = psStopped;
        volume = balance = 0;
        calls.clear();
        EndOfStream = nullptr;
    }
};

// The program seeds from the clock at start-up; a replay needs the same draws, so each session
// gets its own fixed seed instead.
class SoakRandom : public Random {
public:
    explicit SoakRandom(std::uint32_t base) : base_(base) {}
    void Seed(std::uint32_t) override { engine_.seed(base_ + 7919u * ++sessions_); }
    std::int32_t Next() override { return static_cast<std::int32_t>(engine_() >> 1); }

private:
    std::uint32_t base_;
    std::uint32_t sessions_ = 0;
    std::mt19937 engine_;
};

class SoakPowerOff : public PowerOff {
public:
    std::function<void()> requested;
    std::string PowerOffComputer() override {
        if (requested) requested();
        return "";
    }
};

std::int32_t WholeSeconds(double s) { return s > 0 ? static_cast<std::int32_t>(s) : 0; }

// One playlist entry as the model knows it.
struct Entry {
    std::int64_t id;
    std::int32_t file;
    bool inserted;  // "= " rather than "  " in its text
    bool selected;
};

enum class Advance { TakeOff, Rotate, Shuffle };

class Soak {
public:
    Soak(std::uint32_t seed, double hours) : rng_(seed), random_(seed * 2654435761u + 1), end_(hours * 3600) {
        report_.seed = seed;
        MakeLibrary();
        deck1_.opened = [this](const std::string& p) { OnDeckOpen(Deck::WinMediaPlayer1, p); };
        deck2_.opened = [this](const std::string& p) { OnDeckOpen(Deck::WinMediaPlayer2, p); };
        probe_.opened = [this](const std::string& p) { OnProbe(p); };
        powerOff_.requested = [this] { EndSession("power-off"); };
    }

    SoakReport Run() {
        StartSession(true);
        nextAction_ = 1;
        while (time_ < end_ && !stopped_) {
            Tick();
            if (time_ >= nextAction_) {
                Step([this] { Act(); });
                nextAction_ = time_ + std::clamp(std::exponential_distribution<double>(0.25)(rng_), 0.3, 20.0);
            }
        }
        Sync();
        report_.listed = static_cast<std::int64_t>(model_.size());
        if (report_.added != report_.played + report_.deleted + report_.cleared + report_.listed + report_.lost)
            Violation("the ledger does not balance: " + std::to_string(report_.added) + " added");
        report_.simulatedSeconds = time_;
        return report_;
    }

private:
    // ---- the library ----

    struct LibraryOp {
        bool folder;
        std::int32_t parent;
        std::string name;
    };

    void MakeLibrary() {
        std::vector<std::int32_t> folders{0};
        std::int32_t made = 0;
        auto addFolder = [&](std::int32_t parent, std::string name) {
            ops_.push_back({true, parent, std::move(name)});
            folders.push_back(++made);
            return made;
        };
        const int top = 5 + Below(4);
        for (int t = 0; t < top; ++t) {
            const std::int32_t f = addFolder(0, "Genre " + std::to_string(t));
            for (int s = Below(4); s > 0; --s) {
                const std::int32_t g = addFolder(f, "Album " + std::to_string(s));
                if (Below(3) == 0) addFolder(g, "CD " + std::to_string(Below(3) + 1));
            }
        }
        // Files spread over every folder but the root's few; names repeat across folders.
        const int files = 260 + Below(120);
        std::set<std::pair<std::int32_t, std::string>> names;
        for (int i = 0; i < files; ++i) {
            const std::int32_t parent = folders[static_cast<std::size_t>(Below(static_cast<int>(folders.size())))];
            // A folder on disk cannot hold one name twice; names repeat across folders only.
            std::string name;
            do name = "Track " + std::to_string(Below(60)) + (Below(4) ? ".mp3" : ".wav");
            while (!names.insert({parent, name}).second);
            ops_.push_back({false, parent, name});
            double probe;
            const int kind = Below(100);
            if (kind < 4) probe = 0;            // unreadable
            else if (kind < 7) probe = 0.6;     // under a second: measures 0
            else if (kind < 15) probe = 2 + Below(20);  // shorter than many mixes
            else if (kind < 75) probe = 30 + Below(270) + Below(10) / 10.0;
            else probe = 300 + Below(300) + Below(10) / 10.0;
            // Now and then a file ends before its measured length.
            const double deck = (probe > 0 && Below(30) == 0) ? probe * 0.5 : probe;
            probeSeconds_.push_back(probe);
            deckSeconds_.push_back(deck);
        }
    }

    void BuildLibrary(NodeTable& t) {
        t.MusicFolder = "/music/";
        t.ProgramFolder = dir_.path();
        for (const LibraryOp& op : ops_) {
            if (op.folder) t.AddFolderNode(op.parent, op.name);
            else t.AddFileNode(op.parent, op.name);
        }
        if (pathToFile_.empty()) {
            for (std::int32_t j = 0; j < t.FileCount(); ++j) {
                const std::string path = t.FullPath(j);
                // Same-named files in one folder: the first is the one the path names.
                pathToFile_.emplace(path, j);
                probe_.durations[path] = probeSeconds_[static_cast<std::size_t>(j)];
                deck1_.durations[path] = deck2_.durations[path] = deckSeconds_[static_cast<std::size_t>(j)];
            }
        }
    }

    std::int32_t FileOf(const std::string& path) const {
        auto it = pathToFile_.find(path);
        return it == pathToFile_.end() ? -1 : it->second;
    }

    // ---- sessions ----

    void StartSession(bool first) {
        ++report_.sessions;
        core_.reset();
        deck1_.Close();
        deck2_.Close();
        probe_.Close();
        core_ = std::make_unique<Core>(PlatformServices{deck1_, deck2_, probe_, shell_, powerOff_, dialogs_, random_}, forms_);
        Core& c = *core_;
        BuildLibrary(c.nodes);
        forms_.on.CloseMainWindow = [this] {
            if (sessionOver_) return;
            EndSession("close");
            core_->CloseRequest();
        };
        forms_.on.ShowSplashModal = [this, first] {
            if (first) {
                FirstSettings();
                core_->SaveConfiguration();  // as the first run's set-up writes it
            }
            else if (!core_->LoadConfiguration()) Violation("the configuration written at the close reads back as broken");
        };
        sessionOver_ = false;
        playReadBack_ = false;
        c.FormCreate();

        // What the start-up is to find: the track taken off first, then the entries.
        restoreExpected_.clear();
        if (!first) {
            std::string expected;
            if (savedTakenOff_ != -1) {
                expected += c.nodes.FullPath(savedTakenOff_) + "\r\n";
                restoreExpected_.push_back({nextId_++, savedTakenOff_, false, false});
                ++report_.added;
            }
            for (const Entry& e : saved_) {
                expected += c.nodes.FullPath(e.file) + "\r\n";
                restoreExpected_.push_back({e.id, e.file, false, false});
            }
            if (dir_.ReadFile("qnd.m3u") != expected) Violation("qnd.m3u does not hold the listed entries");
        }
        saved_.clear();
        model_.clear();
        restoreFiles_.clear();
        for (const Entry& e : restoreExpected_)
            if (std::find(restoreFiles_.begin(), restoreFiles_.end(), e.file) == restoreFiles_.end())
                restoreFiles_.push_back(e.file);
        restoreNext_ = 0;
        restorePending_ = restoreFiles_.empty();
        expectTakenOff_ = -1;
        startedIncoming_ = -1;
        pendingAdvance_ = false;
        lastMixing_ = false;
        timer2Running_ = false;
        lastFiles_.clear();
        lastTexts_.clear();

        Log(first ? "start" : "restart");
        c.FormShow();
        core_->envelopeEditor.FormShow();
        AfterStep();
    }

    void FirstSettings() {
        Core& c = *core_;
        c.options.RadioGroup1 = Below(3);
        c.options.RadioGroup2 = EndingChoice();
        c.options.CheckBox1 = true;
        c.buttons = TransportButtons{};
        c.buttons.UP = c.buttons.Play = true;
        CocktailTable& t = c.cocktails.Table();
        for (int i = 0; i < CocktailTable::kCount; ++i) {
            t[i].name = "Cocktail " + std::to_string(i);
            for (Ingredient& g : t[i].ingredients) {
                g.folder = 1 + Below(c.nodes.FolderCount() + 1);  // now and then no folder at all
                g.parts = Below(4);
            }
        }
        t.CurrentCocktail = Below(CocktailTable::kCount);
        t.RepeatLimit = 5 + Below(20);
    }

    int EndingChoice() {
        const int r = Below(20);
        return r < 10 ? epLoadCocktail : r < 17 ? epWait : r < 19 ? epCloseProgram : epShutDown;
    }

    // The program ends (the window closes, or the computer powers off) after writing its files.
    void EndSession(const char* how) {
        Sync();
        Log(how);
        saved_ = model_;
        savedTakenOff_ = core_->playlist.takenOffNodeId();
        sessionOver_ = true;
    }

    // ---- the clock ----

    void Tick() {
        time_ += kTick;
        ++report_.ticks;
        if (deck1_.state == psPlaying || deck2_.state == psPlaying) report_.playingSeconds += kTick;
        // What the clock sets off can add to the playlist only through a cocktail.
        cocktailOnly_ = true;
        Step([this] { deck1_.Advance(kTick); });
        Step([this] { deck2_.Advance(kTick); });
        if (core_->deck.Timer1Enabled()) {
            const DeckEngine& d = core_->deck;
            const bool mustStart = d.isMixing() && d.mixStep() == core_->envelope.StartingPosition() &&
                                   !core_->playlist.Empty() && core_->buttons.UP;
            const std::int64_t session = report_.sessions;
            Step([this] { core_->Timer1Timer(); });
            if (core_->deck.isMixing() && ++mixTicks_ > core_->envelope.MixLength() + 1) {
                Violation("the mix overran its " + std::to_string(core_->envelope.MixLength()) + " steps");
                mixTicks_ = -1000000;  // once per mix
            }
            if (mustStart && session == report_.sessions && startedIncoming_ < 0)
                Violation("the mix reached its starting position with a head entry and UP down, but started nothing");
        }
        if (timer2Running_ && time_ >= timer2Due_ - 1e-9) Step([this] { core_->Timer2Timer(); });
        cocktailOnly_ = false;
    }

    void Step(const std::function<void()>& f) {
        f();
        if (sessionOver_) {
            StartSession(false);
            return;
        }
        AfterStep();
    }

    void AfterStep() {
        Sync();
        Check();
        const bool guard = core_->commands.Timer2Enabled();
        if (guard && !timer2Running_) timer2Due_ = time_ + kGuard;
        timer2Running_ = guard;
        deck1_.calls.clear();
        deck2_.calls.clear();
        probe_.calls.clear();
    }

    // ---- the model ----

    Advance ModeNow() const {
        return core_->buttons.Shuffle ? Advance::Shuffle : core_->buttons.Repeat ? Advance::Rotate : Advance::TakeOff;
    }

    bool Matches(const std::vector<Entry>& m) const {
        const Playlist& pl = core_->playlist;
        if (static_cast<int>(m.size()) != pl.Count()) return false;
        for (std::size_t i = 0; i < m.size(); ++i)
            if (m[i].file != pl.ListBox2()[i] || m[i].selected != Selected(static_cast<int>(i))) return false;
        return true;
    }

    // The selection as ListBox1 holds it, safe to read when the lists are out of step.
    bool Selected(int i) const {
        const Playlist& pl = core_->playlist;
        return i < static_cast<int>(pl.ListBox1().size()) && pl.Selected(i);
    }

    std::string Show(const std::vector<Entry>& m) const {
        std::string s = "[";
        for (std::size_t i = 0; i < m.size() && i < 12; ++i)
            s += (i ? " " : "") + std::to_string(m[i].file) + (m[i].selected ? "*" : "");
        return s + (m.size() > 12 ? " ...]" : "]");
    }

    std::string ShowCore() const {
        std::vector<Entry> m;
        const Playlist& pl = core_->playlist;
        for (int i = 0; i < pl.Count(); ++i)
            m.push_back({0, pl.ListBox2()[static_cast<std::size_t>(i)], false, Selected(i)});
        return Show(m);
    }

    // AdvancePlaylist as the model expects it: the head leaves, or moves to the end (Shuffle: the
    // first k move, k in 1..n-1), the moved copies unselected.
    void ResolveAdvance(Advance mode, const char* where) {
        if (model_.empty()) return;
        if (mode == Advance::TakeOff) {
            std::vector<Entry> rest(model_.begin() + 1, model_.end());
            if (Matches(rest)) {
                ++report_.played;
                expectTakenOff_ = model_.front().file;
                model_ = std::move(rest);
                return;
            }
        } else {
            const std::size_t n = model_.size();
            const std::size_t last = mode == Advance::Rotate || n == 1 ? 1 : n - 1;
            for (std::size_t k = 1; k <= last; ++k) {
                std::vector<Entry> m(model_.begin() + static_cast<std::ptrdiff_t>(std::min(k, n)), model_.end());
                for (std::size_t i = 0; i < k; ++i) {
                    Entry e = model_[i];
                    e.selected = false;
                    m.push_back(e);
                }
                if (Matches(m)) {
                    expectTakenOff_ = -1;
                    model_ = std::move(m);
                    return;
                }
            }
        }
        Violation(std::string(where) + ": the playlist was not advanced as expected: model " + Show(model_) +
                  ", playlist " + ShowCore());
        Resync();
    }

    void ResolveMixEnd() {
        // Only the entry that was mixed in leaves; if it went already, it is the track taken off.
        if (startedIncoming_ >= 0) {
            if (!model_.empty() && model_.front().file == startedIncoming_) ResolveAdvance(ModeNow(), "mix end");
            else expectTakenOff_ = startedIncoming_;
        }
        startedIncoming_ = -1;
    }

    void ApplyRestore() {
        model_ = restoreExpected_;
        const int action = core_->options.RadioGroup1;
        if (action == suClearPlaylist || action == suLoadCocktail) {
            report_.cleared += static_cast<std::int64_t>(model_.size());
            model_.clear();
        }
    }

    // Brings the model up to what happened since the last look, then compares.
    void Sync() {
        if (restoreNext_ < restoreFiles_.size()) return;  // the restore is under way
        if (restorePending_) {
            restorePending_ = false;
            ApplyRestore();
        }
        if (pendingAdvance_) {
            pendingAdvance_ = false;
            ResolveAdvance(advanceMode_, "track start");
        }
        const bool mixing = core_->deck.isMixing();
        if (lastMixing_ && !mixing) ResolveMixEnd();
        if (!lastMixing_ && mixing) {
            ++report_.mixes;
            mixTicks_ = 0;
        }
        lastMixing_ = mixing;
        Compare();
    }

    void Compare() {
        const Playlist& pl = core_->playlist;
        if (pl.ListBox1().size() != pl.ListBox2().size()) {
            Violation("ListBox1 holds " + std::to_string(pl.ListBox1().size()) + " items, ListBox2 " +
                      std::to_string(pl.ListBox2().size()));
            stopped_ = true;  // the playlist's own indexing is unsafe from here on
        }
        if (!Matches(model_)) {
            Violation("the playlist differs from the ledger: model " + Show(model_) + ", playlist " + ShowCore());
            Resync();
        }
        if (pl.takenOffNodeId() != expectTakenOff_) {
            Violation("the track taken off is " + std::to_string(pl.takenOffNodeId()) + ", expected " +
                      std::to_string(expectTakenOff_));
            expectTakenOff_ = pl.takenOffNodeId();
        }
    }

    // After a violation: take the playlist as it is, the vanished entries as lost.
    void Resync() {
        const Playlist& pl = core_->playlist;
        std::vector<Entry> m;
        std::vector<bool> used(model_.size(), false);
        std::size_t from = 0;
        for (int i = 0; i < pl.Count(); ++i) {
            const std::int32_t file = pl.ListBox2()[static_cast<std::size_t>(i)];
            Entry e{nextId_++, file, true, Selected(i)};
            for (std::size_t j = from; j < model_.size(); ++j)
                if (!used[j] && model_[j].file == file) {
                    used[j] = true;
                    from = j + 1;
                    e = model_[j];
                    e.selected = Selected(i);
                    break;
                }
            if (e.id == nextId_ - 1) ++report_.added;
            m.push_back(e);
        }
        for (bool u : used) report_.lost += u ? 0 : 1;
        // The texts tell append from insert; take them as they are.
        for (std::size_t i = 0; i < m.size() && i < pl.ListBox1().size(); ++i)
            m[i].inserted = pl.ListBox1()[i].find("= ") != std::string::npos;
        model_ = std::move(m);
    }

    // ---- what the fakes see ----

    void OnProbe(const std::string& path) {
        if (!core_ || sessionOver_) return;
        const std::int32_t k = FileOf(path);
        if (restoreNext_ < restoreFiles_.size()) {
            const std::int32_t want = restoreFiles_[restoreNext_++];
            if (k != want) Violation("the restore measured " + path + ", expected file " + std::to_string(want));
            if (restoreNext_ == restoreFiles_.size()) restorePending_ = true;
            return;
        }
        Sync();
        if (k < 0) {
            Violation("the probe was given a path outside the library: " + path);
            return;
        }
        if (cocktailOnly_) {
            const CocktailTable& t = core_->cocktails.Table();
            bool fits = false;
            const bool below = core_->autoMix.cocktailSubfolders;
            for (const Ingredient& g : t[t.CurrentCocktail].ingredients)
                for (std::int32_t f = core_->nodes.File(k).parentFolder; f > 0 && !fits; f = below ? core_->nodes.Folder(f).parentFolder : 0)
                    fits = g.parts > 0 && g.folder == f;
            if (!fits) Violation("a cocktail drew " + path + ", from none of its ingredient folders");
        }
        if (WholeSeconds(probeSeconds_[static_cast<std::size_t>(k)]) == 0) return;  // declined, silently
        ++report_.added;
        int p = -1;
        for (std::size_t i = 0; i < model_.size() && p < 0; ++i)
            if (model_[i].selected) p = static_cast<int>(i);
        if (p < 0) {
            model_.push_back({nextId_++, k, false, false});
            return;
        }
        if (p == 0 && core_->deck.isMixing()) p = 1;
        p = std::min(p, static_cast<int>(model_.size()));
        model_.insert(model_.begin() + p, Entry{nextId_++, k, true, false});
    }

    void OnDeckOpen(Deck d, const std::string& path) {
        if (!core_ || sessionOver_) return;
        Sync();
        const DeckEngine& engine = core_->deck;
        if (path.empty()) {
            if (d == engine.currentDeck()) expectTakenOff_ = -1;  // the playlist is finished
            return;
        }
        ++report_.starts;
        const std::int32_t k = FileOf(path);
        const bool head = !model_.empty() && model_.front().file == k;
        if (!engine.isMixing()) {
            if (d != engine.currentDeck()) Violation("a track started on the deck that is not current: " + path);
            if (!head) Violation("a track started that is not the head entry: " + path + ", model " + Show(model_));
            pendingAdvance_ = true;
            advanceMode_ = ModeNow();
        } else {
            if (d != engine.incomingDeck()) Violation("a track was mixed in on the outgoing deck: " + path);
            if (!head) Violation("a track was mixed in that is not the head entry: " + path + ", model " + Show(model_));
            startedIncoming_ = k;
        }
    }

    // ---- invariants ----

    void Check() {
        const Core& c = *core_;
        const Playlist& pl = c.playlist;
        const DeckEngine& d = c.deck;
        const MainDisplay& s = c.display;

        if (pl.FirstSelected() >= pl.Count()) Violation("the selection lies beyond the playlist");
        if (pl.takenOffNodeId() != -1 && !c.nodes.IsFile(pl.takenOffNodeId())) Violation("the track taken off is no file");
        if (pl.ListBox2() != lastFiles_ || pl.ListBox1() != lastTexts_) {
            for (std::size_t i = 0; i < pl.ListBox2().size() && i < pl.ListBox1().size(); ++i) {
                const std::int32_t f = pl.ListBox2()[i];
                if (!c.nodes.IsFile(f)) {
                    Violation("entry " + std::to_string(i) + " names no file: " + std::to_string(f));
                    continue;
                }
                const LibraryNode& n = c.nodes.File(f);
                const bool inserted = i < model_.size() && model_[i].inserted;
                const std::string text = TimeText(n.durationSeconds) + (inserted ? "= " : "  ") + n.name;
                if (n.durationSeconds <= 0 || pl.ListBox1()[i] != text)
                    Violation("entry " + std::to_string(i) + " reads \"" + pl.ListBox1()[i] + "\", expected \"" +
                              text + "\"");
            }
            lastFiles_ = pl.ListBox2();
            lastTexts_ = pl.ListBox1();
        }

        if (totalDue_) {
            totalDue_ = false;
            std::int64_t total = 0;
            for (std::int32_t f : pl.ListBox2())
                if (c.nodes.IsFile(f)) total += c.nodes.File(f).durationSeconds;
            if (s.StaticText1 != TimeText(static_cast<std::int32_t>(total)))
                Violation("the playlist total reads " + s.StaticText1 + " for " + std::to_string(total) + " s");
        }
        if (s.CGauge1Max < 0 || s.CGauge1Progress < 0 || s.CGauge1Progress > s.CGauge1Max)
            Violation("the gauge shows " + std::to_string(s.CGauge1Progress) + " of " + std::to_string(s.CGauge1Max));
        for (const std::string* t : {&s.StaticText1, &s.StaticText2, &s.StaticText3})
            if (t->find('-') != std::string::npos) Violation("a time display reads " + *t);
        if (s.ComboBox1ItemIndex < 0 || s.ComboBox1ItemIndex >= static_cast<int>(s.ComboBox1Items.size()))
            Violation("the cocktail list selects item " + std::to_string(s.ComboBox1ItemIndex));

        for (const FakePlayer* p : {&deck1_, &deck2_})
            if (p->volume < -10000 || p->volume > 0 || p->balance < -10000 || p->balance > 10000)
                Violation("a deck plays at volume " + std::to_string(p->volume) + ", balance " +
                          std::to_string(p->balance));

        const ObservedPlayer& current = d.currentDeck() == Deck::WinMediaPlayer1 ? deck1_ : deck2_;
        const ObservedPlayer& incoming = d.currentDeck() == Deck::WinMediaPlayer1 ? deck2_ : deck1_;
        if (d.isMixing()) {
            if (d.incomingDeck() == d.currentDeck()) Violation("a mix runs into the deck it comes from");
            if (d.mixStep() < 0 || d.mixStep() > c.envelope.MixLength())
                Violation("the mix is at step " + std::to_string(d.mixStep()) + " of " +
                          std::to_string(c.envelope.MixLength()));
            if (s.CGauge1Max != c.envelope.MixLength() || s.CGauge1Progress != d.mixStep())
                Violation("the gauge does not follow the mix");
            if (!d.incomingName().empty() && incoming.fileName != c.nodes.MusicFolder + d.incomingName())
                Violation("the mix's incoming track " + d.incomingName() + " is not on the incoming deck");
            if (!d.incomingName().empty() && FileOf(c.nodes.MusicFolder + d.incomingName()) != startedIncoming_)
                Violation("the mix's incoming track is not the one started");
            if (s.Label1Caption != kMixCaption) Violation("a mix runs without the AutoMixing caption");
            // Paused by Play, a mix waits for Play; with no deck paused nothing would resume it.
            // (The settings' Cancel puts Play back without its click, which the next click mends.)
            if (!d.Timer1Enabled() && c.buttons.Play && !playReadBack_ && current.state != psPaused &&
                incoming.state != psPaused)
                Violation("a mix stands still with no deck paused: states " + std::to_string(current.state) + "/" + std::to_string(incoming.state) + " step " + std::to_string(d.mixStep()) + " files " + current.fileName + " / " + incoming.fileName);
            if (s.NextEnabled || s.MixOffEnabled || c.editor.MixBarsEnabled || core_->envelopeEditor.ScrollBar[15].enabled)
                Violation("a mix runs with Next, MixOFF or the editor's length bars enabled");
        } else {
            if (!d.incomingName().empty()) Violation("an incoming track is left over between mixes");
            if (!s.NextEnabled || !s.MixOffEnabled || !c.editor.MixBarsEnabled || !core_->envelopeEditor.ScrollBar[15].enabled)
                Violation("Next, MixOFF or the editor's length bars stay disabled between mixes");
            if (d.Timer1Enabled() && current.fileName.empty()) Violation("the automix tick runs with no track loaded");
            if (!s.Label1Caption.empty() && current.fileName != c.nodes.MusicFolder + s.Label1Caption)
                Violation("the title shows " + s.Label1Caption + " but the deck holds " + current.fileName);
        }

        if (!dialogs_.shown.empty()) {
            for (const ShownMessage& m : dialogs_.shown) Violation("a message was shown: " + m.text);
            dialogs_.shown.clear();
        }
    }

    // ---- the user ----

    // A file picked from its menu that cannot be played is named, once.
    void PickFromMenu(std::int32_t k) {
        core_->MenuCommand(k);
        if (WholeSeconds(probeSeconds_[static_cast<std::size_t>(k)]) != 0) return;
        const std::string said = "The file \"" + core_->nodes.RelativePath(k) + "\" cannot be played.";
        if (dialogs_.shown.size() != 1 || dialogs_.shown[0].text != said) Violation("not said: " + said);
        dialogs_.shown.clear();
    }

    int Below(int n) { return n <= 0 ? 0 : static_cast<int>(rng_() % static_cast<std::uint32_t>(n)); }
    bool Coin() { return rng_() & 1; }

    std::int32_t RandomFile() { return Below(core_->nodes.FileCount()); }
    std::int32_t RandomFolder() { return 1 + Below(core_->nodes.FolderCount()); }

    void Log(std::string what) {
        char at[32];
        std::snprintf(at, sizeof at, "%.1f s: ", time_);
        recent_.push_back(at + what);
        if (recent_.size() > kKeptActions) recent_.pop_front();
    }

    void Violation(const std::string& what) {
        ++report_.violations;
        if (report_.firstViolations.size() < kKeptViolations)
            report_.firstViolations.push_back({report_.seed, time_, what, {recent_.begin(), recent_.end()}});
    }

    bool MenusAct() const { return core_->commands.MenuHandlingEnabled && core_->cocktails.IngredientPick == 0; }

    void SetSelection(const std::vector<bool>& on) {
        for (int i = 0; i < core_->playlist.Count(); ++i) {
            const bool sel = on[static_cast<std::size_t>(i)];
            core_->playlist.SetSelected(i, sel);
            if (static_cast<std::size_t>(i) < model_.size()) model_[static_cast<std::size_t>(i)].selected = sel;
        }
    }

    void Act() {
        ++report_.actions;
        Sync();
        Core& c = *core_;
        Playlist& pl = c.playlist;
        const int n = pl.Count();
        // A long playlist draws the user's hand to the delete command.
        int r = Below(100);
        if (n > 150 && r < 50) r = 30;

        if (r < 12) {
            const std::int32_t k = RandomFile();
            const bool menu = Coin();
            Log("add file " + std::to_string(k) + (menu ? " (menu)" : " (right press)"));
            if (menu) PickFromMenu(k);
            else c.commands.FileItemPress(k, false);
        } else if (r < 18) {
            const std::int32_t f = RandomFolder();
            const bool left = Coin();
            Log("add folder " + std::to_string(f) + (left ? " (left)" : " (right)"));
            c.commands.FolderItemPress(f, left);
        } else if (r < 24) {
            if (n > 0) {
                std::vector<bool> on(static_cast<std::size_t>(n), false);
                on[static_cast<std::size_t>(Below(std::min(n, 4)) == 0 ? 0 : Below(n))] = true;
                SetSelection(on);
            }
            const std::int32_t k = RandomFile();
            Log("insert file " + std::to_string(k) + " at the selection");
            PickFromMenu(k);
        } else if (r < 34) {
            if (n <= 150 && Coin()) return;
            if (n > 0 && (n > 150 || Coin())) {
                std::vector<bool> on(static_cast<std::size_t>(n), false);
                for (int i = 0; i < n; ++i) on[static_cast<std::size_t>(i)] = Below(4) == 0;
                SetSelection(on);
            }
            Log("delete the selection");
            c.MenuCommand(cmDeleteItems);
            if (!MenusAct()) return;
            std::vector<Entry> kept;
            for (const Entry& e : model_) {
                if (e.selected) ++report_.deleted;
                else kept.push_back(e);
            }
            model_ = std::move(kept);
            totalDue_ = true;
        } else if (r < 36) {
            if (Coin()) return;
            Log("clear");
            c.MenuCommand(cmClear);
            if (!MenusAct()) return;
            report_.cleared += static_cast<std::int64_t>(model_.size());
            model_.clear();
            totalDue_ = true;
        } else if (r < 44) {
            if (Coin()) {
                Log("key B (Next)");
                c.FormKeyDown('B');
            } else if (c.display.NextEnabled) {
                Log("Next");
                c.NextClick();
            }
        } else if (r < 50) {
            // Mostly to get the music going again.
            if (!c.buttons.UP && Below(4) == 0) return;
            if (c.buttons.UP && Below(3) != 0) return;
            if (Coin()) {
                Log("key X (UP)");
                c.FormKeyDown('X');
            } else {
                c.buttons.UP = !c.buttons.UP;
                Log(std::string("UP ") + (c.buttons.UP ? "down" : "up"));
                c.UPClick();
            }
        } else if (r < 55) {
            if (c.buttons.Play && Below(3) != 0) return;
            c.buttons.Play = !c.buttons.Play;
            Log(std::string("Play ") + (c.buttons.Play ? "down" : "up"));
            c.PlayClick();
            playReadBack_ = false;
        } else if (r < 59) {
            // Mostly crossfading, now and then a stretch without.
            if (!c.buttons.Mix_OFF && Below(3) != 0) return;
            if (Coin()) {
                Log("key V (MixOFF)");
                c.FormKeyDown('V');
            } else if (c.display.MixOffEnabled) {
                c.buttons.Mix_OFF = !c.buttons.Mix_OFF;
                Log(std::string("MixOFF ") + (c.buttons.Mix_OFF ? "down" : "up"));
                c.Mix_OFFClick();
            }
        } else if (r < 63) {
            c.buttons.Repeat = !c.buttons.Repeat;
            Log(std::string("Repeat ") + (c.buttons.Repeat ? "down" : "up"));
            c.RepeatClick();
        } else if (r < 67) {
            if (c.display.ShuffleEnabled) {
                c.buttons.Shuffle = !c.buttons.Shuffle;
                Log(std::string("Shuffle ") + (c.buttons.Shuffle ? "down" : "up"));
                c.ShuffleClick();
            }
        } else if (r < 71) {
            if (Coin()) {
                const int i = Below(CocktailTable::kCount);
                Log("choose cocktail " + std::to_string(i));
                c.ComboBox1Change(i);
            }
            Log("make a cocktail");
            cocktailOnly_ = true;
            c.MenuCommand(cmMakeCocktail);
            cocktailOnly_ = false;
        } else if (r < 81) {
            EditEnvelope();
        } else if (r < 89) {
            std::vector<bool> on(static_cast<std::size_t>(n), false);
            const int how = Below(4);
            for (int i = 0; i < n; ++i)
                on[static_cast<std::size_t>(i)] = how == 1 ? i == 0 : how == 2 ? Below(5) == 0 : false;
            if (how == 3 && n > 0) on[static_cast<std::size_t>(Below(n))] = true;
            Log("select " + std::to_string(std::count(on.begin(), on.end(), true)) + " entries");
            SetSelection(on);
        } else if (r < 91) {
            c.options.RadioGroup2 = EndingChoice();
            c.options.RadioGroup1 = Below(3);
            c.options.chkMusicFileTimeRem = Coin();
            c.options.chkAutoMixTimeRem = Coin();
            Log("settings: at startup " + std::to_string(c.options.RadioGroup1) + ", at the end " +
                std::to_string(c.options.RadioGroup2));
        } else if (r < 93) {
            // The settings form: OK writes the file, Cancel reads it back, buttons included.
            if (Coin()) {
                Log("settings OK");
                c.optionsKeeper.BitBtn1Click();
            } else {
                Log("settings Cancel");
                const bool play = c.buttons.Play;
                c.optionsKeeper.BitBtn2Click();
                playReadBack_ = playReadBack_ || c.buttons.Play != play;
            }
        } else if (r < 95) {
            const int x = Below(kStripWidth);
            Log("seek at " + std::to_string(x));
            c.Label1Seek(x, kStripWidth);
        } else if (r < 97) {
            c.cocktails.IngredientPick = 1 + Below(3);
            if (Coin()) {
                const std::int32_t f = RandomFolder();
                Log("pick ingredient folder " + std::to_string(f));
                c.commands.FolderItemPress(f, true);
            } else {
                Log("abandon an ingredient pick");
            }
            c.commands.FolderMenusClosed();
        } else if (r < 98) {
            Log("key C (Play)");
            c.FormKeyDown('C');
            playReadBack_ = false;
        } else if (Below(4) == 0) {
            EndSession("the user closes the window");
            c.CloseRequest();
        }
    }

    void EditEnvelope() {
        EnvelopeEditor& e = core_->envelopeEditor;
        const int op = Below(6);
        if (op == 5) {
            // Shown again (any time, a mix included) it reads the envelope into its bars.
            const bool show = Coin();
            Log(show ? "editor: shown" : "editor: closed");
            if (show) e.FormShow();
            else e.FormClose();
        } else if (op == 0) {
            const int at = Below(e.ScrollBar[13].max + 1);
            Log("editor: cursor to " + std::to_string(at));
            e.ScrollBarChange(13, at);
        } else if (op == 1) {
            const int b = std::array<int, 4>{1, 2, 5, 6}[static_cast<std::size_t>(Below(4))];
            Log("editor: key button " + std::to_string(b));
            e.SpeedButtonClick(b);
        } else if (op == 2) {
            const int b = std::array<int, 4>{1, 2, 5, 6}[static_cast<std::size_t>(Below(4))];
            const EnvelopeEditor::Bar& bar = e.ScrollBar[b];
            if (!bar.enabled) return;
            const int v = bar.min + Below(bar.max - bar.min + 1);
            Log("editor: bar " + std::to_string(b) + " to " + std::to_string(v));
            e.ScrollBarChange(b, v);
        } else {
            // Length, finishing and starting positions: the user cannot move a disabled bar.
            const int b = 14 + Below(3);
            const EnvelopeEditor::Bar& bar = e.ScrollBar[b];
            if (!bar.enabled) return;
            const int top = b == 15 ? std::min(bar.max, 400) : bar.max;
            const int v = bar.min + Below(top - bar.min + 1);
            Log("editor: bar " + std::to_string(b) + " to " + std::to_string(v));
            e.ScrollBarChange(b, v);
        }
    }

    std::mt19937 rng_;
    SoakRandom random_;
    double end_;
    double time_ = 0;
    double nextAction_ = 0;
    SoakReport report_;
    std::deque<std::string> recent_;

    TempDir dir_;
    std::vector<LibraryOp> ops_;
    std::vector<double> probeSeconds_, deckSeconds_;
    std::unordered_map<std::string, std::int32_t> pathToFile_;

    ObservedPlayer deck1_, deck2_, probe_;
    FakeShell shell_;
    SoakPowerOff powerOff_;
    FakeDialogs dialogs_;
    FakeForms forms_;
    std::unique_ptr<Core> core_;
    bool sessionOver_ = false;
    bool stopped_ = false;
    bool playReadBack_ = false;
    bool cocktailOnly_ = false;  // additions now can only be a cocktail's draws
    bool totalDue_ = false;      // the last action refreshed the total  // Play's state came from the settings' Cancel, not a click
    bool timer2Running_ = false;
    double timer2Due_ = 0;

    std::vector<Entry> model_;
    std::int64_t nextId_ = 1;
    std::int32_t expectTakenOff_ = -1;
    std::int32_t startedIncoming_ = -1;
    bool pendingAdvance_ = false;
    Advance advanceMode_ = Advance::TakeOff;
    bool lastMixing_ = false;
    int mixTicks_ = 0;  // Timer1 ticks of the running mix
    std::vector<Entry> saved_;
    std::int32_t savedTakenOff_ = -1;
    std::vector<Entry> restoreExpected_;
    std::vector<std::int32_t> restoreFiles_;
    std::size_t restoreNext_ = 0;
    bool restorePending_ = false;
    std::vector<std::int32_t> lastFiles_;
    std::vector<std::string> lastTexts_;
};

}  // namespace

SoakReport RunSoak(std::uint32_t seed, double simulatedHours) { return Soak(seed, simulatedHours).Run(); }

}  // namespace quendo::testing
