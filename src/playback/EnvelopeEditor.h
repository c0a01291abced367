#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "model/MixEnvelope.h"
#include "model/TrackFacts.h"
#include "playback/BeatMix.h"

namespace quendo {

// The mix editor's (TMixEditor's) steps and what its controls show, without widgets. It edits the
// live envelope; the form copies the fields below into its widgets and forwards the user's changes.
class EnvelopeEditor {
public:
    struct Bar {
        int min = 0;
        int max = 100;
        int position = 0;
        int largeChange = 1;
        bool enabled = true;
        bool visible = true;
    };
    struct KeyButton {
        bool down = false;
        std::string caption = "In";
        bool visible = true;
    };
    struct ChartPoint {
        int x = 0;
        int y = 0;
        bool operator==(const ChartPoint&) const = default;
    };
    struct Chart {
        int axisMax = 60;  // horizontal axis: 0..axisMax
        int cursor = 0;    // the vertical cursor line stands at this index
    };
    enum Page { TabSheet1 = 0, TabSheet2 = 1, TabSheet3 = 2 };
    // The volume chart's range: silence to full volume, with room above for the two decks together
    // going beyond full volume (by 3 dB at most: +301).
    static constexpr int kVolumeChartMin = -10250, kVolumeChartMax = 450;

    explicit EnvelopeEditor(MixEnvelope& envelope);

    // Handlers. A bar's handler takes the bar's new position; the program's own settings of a
    // bar run it too, but only when the position really changes.
    void FormShow();
    void ScrollBar1Change(int position);
    void ScrollBar2Change(int position);
    void ScrollBar3Change(int position);
    void ScrollBar4Change(int position);
    void ScrollBar5Change(int position);
    void ScrollBar6Change(int position);
    void ScrollBar7Change(int position);
    void ScrollBar8Change(int position);
    void ScrollBar9Change(int position);
    void ScrollBar10Change(int position);
    void ScrollBar11Change(int position);
    void ScrollBar12Change(int position);
    void ScrollBar13Change(int position);
    void ScrollBar14Change(int position);
    void ScrollBar15Change(int position);
    void ScrollBar16Change(int position);
    void SpeedButton1Click();
    void SpeedButton2Click();
    void SpeedButton5Click();
    void SpeedButton6Click();
    void BitBtn1Click();
    void FormClose();  // the close box
    // "Listen": the next change, heard ahead on the pre-listen output. The core sets what it runs.
    void ListenClick() {
        if (onListen) onListen();
    }
    std::function<void()> onListen;

    // By number, for the form's wiring: runs ScrollBar<bar>Change / SpeedButton<button>Click.
    void ScrollBarChange(int bar, int position);
    void SpeedButtonClick(int button);
    void SelectPage(int page);
    // The deck engine tells the editor when a mix starts and ends.
    void SetMixRunning(bool running);
    // The rate page, read-only, shown while mixing on the beat is on: the mix in step that runs or
    // comes next, or, with none, why the next mix is a plain one ("" when that cannot be told).
    // Touches the state only when what the page shows changes.
    // With the plan, `words` tells it ("Mixed over 16 bars: ..."); its phrase lines, its bass swap
    // and each deck's bass are drawn over the rates.
    void ShowRates(bool mixOnBeat, const std::optional<BeatMixPlan>& plan, const std::string& why,
                   const std::string& words = {});

    // ---- the two tracks under the curves, the shapes and the dragged points
    // One of the two tracks as it lies under the mix: its file second at envelope index i is
    // fileAtZero + i * secondsPerIndex * rate, and it sounds from index `from` to index `to`.
    struct Lane {
        std::string name;
        std::shared_ptr<const TrackWave> wave;  // none: drawn without its sound
        double fileAtZero = 0, rate = 1;
        double from = 0, to = 0;
        BeatGrid beats{};
        std::vector<double> phrases;  // its phrase lines, file seconds
        double mark = -1;             // outgoing: its last sound; incoming: its first bar (file seconds); -1 none
        bool shown = false;
        bool operator==(const Lane& o) const {
            return name == o.name && wave == o.wave && fileAtZero == o.fileAtZero && rate == o.rate && from == o.from &&
                   to == o.to && beats.bpm == o.beats.bpm && beats.firstBeat == o.beats.firstBeat &&
                   beats.period == o.beats.period && beats.barPhase == o.beats.barPhase && phrases == o.phrases &&
                   mark == o.mark && shown == o.shown;
        }
        double FileSecond(double index, double secondsPerIndex) const { return fileAtZero + index * secondsPerIndex * rate; }
        double IndexOf(double fileSecond, double secondsPerIndex) const {
            return (fileSecond - fileAtZero) / (secondsPerIndex * rate);
        }
    };
    // The next change (or the one running), as the editor draws and names it.
    struct MixView {
        double secondsPerIndex = 0.1;  // a mix on the beat runs the envelope over its bars
        std::array<Lane, 2> lanes{};   // outgoing, incoming
        double barIndex = 0;           // on the beat: the envelope index of one bar of the mix; 0 none
        std::vector<double> phraseLines;  // on the beat: the mix's phrase lines, envelope indices
        double bassSwap = -1;          // envelope index; -1 none
        std::string nextChange = "No next track yet";
        std::string why;               // what the plan is made of, or nothing
        bool nextExists = false;       // there is a change to listen to
        bool operator==(const MixView&) const = default;
    };
    enum class Shape { Linear, EqualPower, Cut };

    // The switch: off, the editor shows only the described envelope.
    void ShowTracks(bool on);
    void ShowMix(MixView view);
    // Where the running mix stands, in envelope indices (fractions between ticks); < 0 none.
    void ShowPlayhead(double index);
    // A key point of a visible curve (by its value bar, 1, 2, 5 or 6) taken from `from` to `to`
    // with its value in the envelope's units. The ends that anchor a curve take the length's
    // moves with them (the finishing and starting positions); other keys stay between their
    // neighbours. The cursor is left on the point. Runs the same handlers as the bars and buttons.
    void DragKey(int bar, int from, int to, int value);
    // The volume curves' fade between the starting and the finishing position, as a shape.
    void ApplyShape(Shape shape);
    // The start-up envelope again; not while a mix runs, whose length it would change.
    void ResetToDefaults();

    int CurveValue(Quantity q, int curve, int index) const { return envelope_.Value(q, curve, index); }

    // Display state, indexed by the controls' numbers (element 0 unused).
    int editorCursor = 0;
    std::array<Bar, 17> ScrollBar{};
    std::array<KeyButton, 9> SpeedButton{};
    std::array<std::string, 6> Label{};                 // Label1..Label4: plain indices; Label5: the tempi
    std::array<std::vector<ChartPoint>, 13> Series{};   // Series1..Series12: key points only
    std::array<Chart, 4> Charts{};                      // Chart1..Chart3
    // On the volume chart, the two decks' predicted level together, one point a tick over the
    // mix, kept within the chart's range.
    std::vector<ChartPoint> VolumeSum;
    // On the rate chart: the planned mix's phrase lines and its bass swap, as vertical lines (one
    // line each, drawn down and up again beyond the chart's range), and each deck's bass course,
    // 0 (cut) to kBassShown (as it is), outgoing then incoming. Bumps rateMarksRevision.
    static constexpr int kBassShown = 100;
    std::vector<ChartPoint> PhraseLines, BassSwapLine;
    std::array<std::vector<ChartPoint>, 2> BassCourse{};
    std::uint64_t rateMarksRevision = 0;
    bool showTracks = false;
    MixView mix{};
    double playhead = -1;
    std::uint64_t mixRevision = 0;  // of showTracks and mix
    int activePage = TabSheet2;
    bool visible = false;
    bool mixRunning = false;
    bool ratePageShown = false;  // TabSheet3's tab, shown and enabled

    // Bumped by every change of the state above, so a renderer can skip unchanged parts.
    std::uint64_t revision = 0;
    std::array<std::uint64_t, 13> seriesRevision{};
    std::uint64_t volumeSumRevision = 0;

private:
    MixEnvelope& envelope_;
    // What the rate page was last told: the tempi and rate of the mix in step, and where in it
    // the incoming track starts, as a share of its length.
    struct RateMix {
        double outBpm = 0, inBpm = 0, rate = 1, incomingShare = 0;
        std::vector<double> phraseShares;  // where the phrase lines fall, as shares of the mix
        double swapShare = -1, swapRampShare = 0;  // the bass swap's end, and its ramp; -1: none
        std::string words;
        bool operator==(const RateMix&) const = default;
    };
    bool rateOn_ = false;
    std::optional<RateMix> rateMix_;
    std::string rateWhy_;

    void Resync();
    // The cursor to `index` and the key point there made editable, as "In" would.
    void GrabKey(int bar, int index);
    void ClearKeys(int bar, int keepA, int keepB);
    void SetPosition(int bar, int position);
    void SetMax(int bar, int max);
    int Store(int bar, int position);
    void MoveAxesToCursor();
    void Redraw(Quantity q, int curve);
    void RedrawVolumeSum();
    void ShowKeyAtCursor(int bar, Quantity q, int curve, bool editable);
    void WriteValue(int bar, Quantity q, int curve);
    void KeyButtonClick(int button, Quantity q, int curve);
    void RedrawRates();
    void SetSeries(int series, std::vector<ChartPoint> points);
};

// One track as the editor names and draws it.
struct MixTrack {
    std::string name;
    std::optional<TrackFacts> facts;
};

// The next change under the envelope, as the deck engine will play it: on the beat, the plan's
// bars; plain, the outgoing track from `plainStart` (its file second at the mix's first tick) and
// the incoming one from `incomingStart` at the starting position. No `in`: no next track.
EnvelopeEditor::MixView LayOutMix(const MixEnvelope& envelope, const MixTrack& out, const std::optional<MixTrack>& in,
                                  const std::optional<BeatMixPlan>& plan, double plainStart, double incomingStart,
                                  bool join = false);
// A join lays the cut in the middle of the picture, `plainStart` half a mix before the outgoing
// track's last frame.

// "128.0 BPM → 126.0 BPM, played at 128.0": the two tempi of a plan and the incoming one's as heard.
std::string TempiInWords(const BeatMixPlan& plan);

// The next change in words: "Mix on the beat over 8 bars", "Join: ...", "Plain mix: " and why.
std::string NextChangeText(bool nextTrack, bool join, const std::optional<BeatMixPlan>& plan, const std::string& whyPlain);

// Why no mix in step joins the track `out` to `in`, as far as their facts tell: "" when they
// would allow one (the bar lines or the decks may still not).
std::string WhyNotOnTheBeat(const std::optional<TrackFacts>& out, const std::optional<TrackFacts>& in);

}  // namespace quendo
