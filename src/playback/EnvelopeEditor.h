#pragma once
#include <array>
#include <cstdint>
#include <functional>
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

// Why no mix in step joins the track `out` to `in`, as far as their facts tell: "" when they
// would allow one (the bar lines or the decks may still not).
std::string WhyNotOnTheBeat(const std::optional<TrackFacts>& out, const std::optional<TrackFacts>& in);

}  // namespace quendo
