#include "playback/EnvelopeEditor.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace quendo {

namespace {

constexpr Quantity V = Quantity::Volume;
constexpr Quantity B = Quantity::Balance;

// Bars, buttons and series 1..4 belong to the volume curves 0..3, 5..8 to the balance curves.
int SeriesOf(Quantity q, int curve) { return (q == V ? 1 : 5) + curve; }

// What a value bar shows for a point: volume in whole decibels downwards, balance as it is.
int BarPositionOf(Quantity q, int value) { return q == V ? value / -100 : value; }
int ValueOfBar(Quantity q, int position) { return q == V ? position * -100 : position; }

// The rate page's curves and bars stand at this in percent where a deck plays at its own tempo.
constexpr int kOwnRate = 100;

std::string Format(const char* format, double a, double b, double c = 0) {
    char text[128];
    std::snprintf(text, sizeof text, format, a, b, c);
    return text;
}

}  // namespace

std::string WhyNotOnTheBeat(const std::optional<TrackFacts>& out, const std::optional<TrackFacts>& in) {
    if (!out || !in) return "the tracks' beats are not known yet";
    if (!out->beats.Steady()) return "the playing track has no steady beat";
    if (!in->beats.Steady()) return "the next track has no steady beat";
    if (!InStepRate(out->beats, in->beats)) return Format("their tempi, %.1f and %.1f BPM, lie too far apart", out->beats.bpm, in->beats.bpm);
    return {};
}

std::string TempiInWords(const BeatMixPlan& plan) {
    return Format("%.1f BPM \u2192 %.1f BPM, played at %.1f", plan.outBpm, plan.inBpm, plan.inBpm * plan.rate);
}

std::string NextChangeText(bool nextTrack, bool join, const std::optional<BeatMixPlan>& plan, const std::string& whyPlain) {
    if (!nextTrack) return "No next track yet";
    if (join) return "Join: the music runs across the cut";
    if (plan) return "Mix on the beat over " + std::to_string(plan->bars) + (plan->bars == 1 ? " bar" : " bars");
    return whyPlain.empty() ? "Plain mix" : "Plain mix: " + whyPlain;
}

namespace {

// The phrase lines of a track whose form is known, in its file's seconds.
std::vector<double> PhraseSeconds(const TrackFacts& facts) {
    std::vector<double> lines;
    if (facts.form.Known() && facts.beats.Steady() && facts.beats.barPhase >= 0)
        for (const int bar : facts.form.phrases) lines.push_back(BarStart(facts.beats, bar));
    return lines;
}

EnvelopeEditor::Lane LaneOf(const MixTrack& track) {
    EnvelopeEditor::Lane lane;
    lane.name = track.name;
    lane.shown = true;
    if (track.facts) {
        lane.wave = track.facts->wave;
        lane.beats = track.facts->beats;
        lane.phrases = PhraseSeconds(*track.facts);
    }
    return lane;
}

}  // namespace

EnvelopeEditor::MixView LayOutMix(const MixEnvelope& envelope, const MixTrack& out, const std::optional<MixTrack>& in,
                                  const std::optional<BeatMixPlan>& plan, double plainStart, double incomingStart,
                                  bool join) {
    EnvelopeEditor::MixView view;
    const int length = envelope.MixLength();
    if (plan && plan->length > 0) view.secondsPerIndex = plan->length / length;
    const double spi = view.secondsPerIndex;
    EnvelopeEditor::Lane& o = view.lanes[0];
    o = LaneOf(out);
    o.fileAtZero = plan ? plan->start : plainStart;
    o.to = length;
    if (out.facts) {
        if (out.facts->audible) o.mark = out.facts->lastSound;
        // The outgoing track sounds until its file ends, or its last sound where the mix waits on that.
        if (out.facts->decodedSeconds > 0) o.to = std::min<double>(length, o.IndexOf(out.facts->decodedSeconds, spi));
    }
    if (!plan) o.to = std::min<double>(o.to, join ? length / 2 : envelope.FinishingPosition());
    if (in) {
        EnvelopeEditor::Lane& i = view.lanes[1];
        i = LaneOf(*in);
        i.to = length;
        if (plan) {
            i.rate = plan->rate;
            i.from = (plan->incomingAt - plan->start) / spi;
            i.fileAtZero = plan->incomingFrom - i.from * spi * i.rate;
        } else {
            i.from = join ? length / 2 : envelope.StartingPosition();
            i.fileAtZero = incomingStart - i.from * spi;
        }
        if (in->facts && in->facts->beats.Steady() && in->facts->beats.barPhase >= 0)
            i.mark = BarStart(in->facts->beats, 0);
    }
    if (plan) {
        if (plan->outBpm > 0) view.barIndex = 4 * 60.0 / plan->outBpm / spi;
        for (const double line : plan->phraseLines) view.phraseLines.push_back(o.IndexOf(line, spi));
        if (plan->bassSwapAt >= 0) view.bassSwap = o.IndexOf(plan->bassSwapAt, spi);
    }
    return view;
}

EnvelopeEditor::EnvelopeEditor(MixEnvelope& envelope) : envelope_(envelope) {
    const int length = envelope_.MixLength();
    for (int n = 1; n <= 4; ++n) ScrollBar[n] = Bar{0, 100, 0, 10, true, n <= 2};
    for (int n = 5; n <= 8; ++n) ScrollBar[n] = Bar{-10000, 10000, 0, 100, true, n <= 6};
    for (int n = 9; n <= 12; ++n) ScrollBar[n] = Bar{0, 200, kOwnRate, 1, true, n <= 10};
    ScrollBar[13] = Bar{0, length, 50, 1, true, true};
    ScrollBar[14] = Bar{1, length, 1, 1, true, true};
    ScrollBar[15] = Bar{10, 1000, 25, 10, true, true};
    ScrollBar[16] = Bar{0, length - 1, 20, 1, true, true};
    for (int n : {3, 4, 7, 8}) SpeedButton[n].visible = false;
    Charts[1].axisMax = Charts[2].axisMax = Charts[3].axisMax = length;
}

// ---- bar plumbing

int EnvelopeEditor::Store(int bar, int position) {
    Bar& b = ScrollBar[bar];
    b.position = std::clamp(position, b.min, b.max);
    ++revision;
    return b.position;
}

void EnvelopeEditor::SetPosition(int bar, int position) {
    const Bar& b = ScrollBar[bar];
    position = std::clamp(position, b.min, b.max);
    if (position != b.position) ScrollBarChange(bar, position);
}

void EnvelopeEditor::SetMax(int bar, int max) {
    Bar& b = ScrollBar[bar];
    b.max = max;
    ++revision;
    if (b.position > max) ScrollBarChange(bar, max);
}

void EnvelopeEditor::ScrollBarChange(int bar, int position) {
    switch (bar) {
        case 1: ScrollBar1Change(position); break;
        case 2: ScrollBar2Change(position); break;
        case 3: ScrollBar3Change(position); break;
        case 4: ScrollBar4Change(position); break;
        case 5: ScrollBar5Change(position); break;
        case 6: ScrollBar6Change(position); break;
        case 7: ScrollBar7Change(position); break;
        case 8: ScrollBar8Change(position); break;
        case 9: ScrollBar9Change(position); break;
        case 10: ScrollBar10Change(position); break;
        case 11: ScrollBar11Change(position); break;
        case 12: ScrollBar12Change(position); break;
        case 13: ScrollBar13Change(position); break;
        case 14: ScrollBar14Change(position); break;
        case 15: ScrollBar15Change(position); break;
        case 16: ScrollBar16Change(position); break;
        default: break;
    }
}

void EnvelopeEditor::SpeedButtonClick(int button) {
    switch (button) {
        case 1: SpeedButton1Click(); break;
        case 2: SpeedButton2Click(); break;
        case 5: SpeedButton5Click(); break;
        case 6: SpeedButton6Click(); break;
        default: break;
    }
}

// ---- drawing

void EnvelopeEditor::Redraw(Quantity q, int curve) {
    if (q == V && (curve == 0 || curve == 1)) RedrawVolumeSum();
    std::vector<ChartPoint> points;
    const int length = envelope_.MixLength();
    for (int i = 0; i <= length; ++i)
        if (envelope_.IsKey(q, curve, i)) points.push_back({i, envelope_.Value(q, curve, i)});
    SetSeries(SeriesOf(q, curve), std::move(points));
}

void EnvelopeEditor::RedrawVolumeSum() {
    std::vector<ChartPoint> points;
    const int length = envelope_.MixLength();
    points.reserve(static_cast<std::size_t>(length) + 1);
    for (int i = 0; i <= length; ++i)
        points.push_back({i, std::clamp(envelope_.CombinedVolume(i), -10000, kVolumeChartMax)});
    if (points == VolumeSum) return;
    VolumeSum = std::move(points);
    volumeSumRevision = ++revision;
}

void EnvelopeEditor::MoveAxesToCursor() {
    Charts[1].cursor = Charts[2].cursor = editorCursor;
    ++revision;
}

// ---- showing

void EnvelopeEditor::FormShow() {
    visible = true;
    Resync();
}

void EnvelopeEditor::Resync() {
    const int length = envelope_.MixLength();
    SetPosition(15, length);
    SetMax(14, length);
    SetMax(16, length - 1);
    editorCursor = length / 2;
    SetPosition(13, editorCursor);
    SetPosition(14, envelope_.FinishingPosition());
    SetPosition(16, envelope_.StartingPosition());
    for (Quantity q : {V, B})
        for (int curve = 0; curve < 4; ++curve) Redraw(q, curve);
    for (Quantity q : {V, B})
        for (int curve : {0, 1}) envelope_.InterpolateCurve(q, curve);
    RedrawVolumeSum();
    RedrawRates();
    ++revision;
}

void EnvelopeEditor::BitBtn1Click() { FormClose(); }

void EnvelopeEditor::FormClose() {
    visible = false;
    ++revision;
}

void EnvelopeEditor::SelectPage(int page) {
    const int last = ratePageShown ? TabSheet3 : TabSheet2;  // the rate page is shut while hidden
    if (page < TabSheet1 || page > last || page == activePage) return;
    activePage = page;
    ++revision;
}

void EnvelopeEditor::SetMixRunning(bool running) {
    if (running == mixRunning) return;
    mixRunning = running;
    for (int n : {14, 15, 16}) ScrollBar[n].enabled = !running;
    ++revision;
}

// ---- the rates of a mix on the beat

void EnvelopeEditor::ShowRates(bool mixOnBeat, const std::optional<BeatMixPlan>& plan, const std::string& why,
                               const std::string& words) {
    std::optional<RateMix> mix;
    if (mixOnBeat && plan && plan->length > 0) {
        const auto share = [&](double at) { return (at - plan->start) / plan->length; };
        RateMix m{};
        m.outBpm = plan->outBpm;
        m.inBpm = plan->inBpm;
        m.rate = plan->rate;
        m.incomingShare = share(plan->incomingAt);
        for (const double line : plan->phraseLines) m.phraseShares.push_back(share(line));
        if (plan->bassSwapAt >= 0 && !plan->outgoingBass.empty()) {
            m.swapShare = share(plan->bassSwapAt);
            m.swapRampShare = (plan->bassSwapAt - plan->outgoingBass.front().fileSeconds) / plan->length;
        }
        m.words = words;
        mix = std::move(m);
    }
    const std::string reason = mixOnBeat && !plan ? why : std::string();
    if (mixOnBeat == rateOn_ && mix == rateMix_ && reason == rateWhy_) return;
    rateOn_ = mixOnBeat;
    rateMix_ = mix;
    rateWhy_ = reason;
    RedrawRates();
}

void EnvelopeEditor::SetSeries(int series, std::vector<ChartPoint> points) {
    if (points == Series[series]) return;  // the chart need not be touched
    Series[series] = std::move(points);
    seriesRevision[series] = ++revision;
}

// The outgoing deck keeps its tempo; the incoming one plays at the plan's rate from where it
// starts to the mix's end (it glides back after). A plain mix plays both at their own.
void EnvelopeEditor::RedrawRates() {
    const int length = envelope_.MixLength();
    std::vector<ChartPoint> outgoing, incoming;
    std::string text;
    int inRate = kOwnRate;
    std::vector<ChartPoint> phrases, swap;
    std::array<std::vector<ChartPoint>, 2> bass{};
    if (rateOn_) {
        int from = envelope_.StartingPosition();
        if (rateMix_) {
            const auto tick = [length](double share) {
                return std::clamp(static_cast<int>(std::lround(share * length)), 0, length);
            };
            from = tick(rateMix_->incomingShare);
            inRate = std::clamp(static_cast<int>(std::lround(rateMix_->rate * kOwnRate)), 0, 2 * kOwnRate);
            text = Format("%.1f BPM \u2192 %.1f BPM, played at %.1f", rateMix_->outBpm, rateMix_->inBpm,
                          rateMix_->inBpm * rateMix_->rate);
            if (!rateMix_->words.empty()) text += "\n" + rateMix_->words;
            // A vertical line runs from below the chart to above it and back, so that the lines
            // between two of them lie outside the plot, which clips them.
            const auto mark = [](std::vector<ChartPoint>& comb, int x) {
                comb.insert(comb.end(), {{x, -1000}, {x, 1000}, {x, -1000}});
            };
            for (const double share : rateMix_->phraseShares) mark(phrases, tick(share));
            if (rateMix_->swapShare >= 0) {
                const int at = tick(rateMix_->swapShare), ramp = tick(rateMix_->swapShare - rateMix_->swapRampShare);
                mark(swap, at);
                bass[0] = {{0, kBassShown}, {ramp, kBassShown}, {at, 0}, {length, 0}};
                bass[1] = {{from, 0}, {std::max(from, ramp), 0}, {std::max(from, at), kBassShown}, {length, kBassShown}};
            } else {
                bass[0] = {{0, kBassShown}, {length, kBassShown}};
                bass[1] = {{from, kBassShown}, {length, kBassShown}};
            }
        } else {
            text = rateWhy_.empty() ? "The next mix is not on the beat" : "No mix on the beat: " + rateWhy_;
        }
        outgoing = {{0, kOwnRate}, {length, kOwnRate}};
        incoming = {{from, inRate}, {length, inRate}};
    }
    if (phrases != PhraseLines || swap != BassSwapLine || bass != BassCourse) {
        PhraseLines = std::move(phrases);
        BassSwapLine = std::move(swap);
        BassCourse = std::move(bass);
        rateMarksRevision = ++revision;
    }
    SetSeries(9, std::move(outgoing));
    SetSeries(10, std::move(incoming));
    if (Label[5] != text) {
        Label[5] = std::move(text);
        ++revision;
    }
    // Read-only: the bars show the two rates and take nothing.
    for (int n = 9; n <= 12; ++n) {
        Bar& b = ScrollBar[n];
        const int position = n == 10 ? inRate : kOwnRate;
        if (b.enabled == !rateOn_ && b.position == position) continue;
        b.enabled = !rateOn_;
        b.position = position;
        ++revision;
    }
    if (ratePageShown != rateOn_) {
        ratePageShown = rateOn_;
        if (!ratePageShown && activePage == TabSheet3) activePage = TabSheet2;
        ++revision;
    }
}

// ---- the cursor

void EnvelopeEditor::ShowKeyAtCursor(int bar, Quantity q, int curve, bool editable) {
    KeyButton& button = SpeedButton[bar];
    if (envelope_.IsKey(q, curve, editorCursor) && editable) {
        ScrollBar[bar].enabled = true;
        button.down = true;
        button.caption = "De";
        SetPosition(bar, BarPositionOf(q, envelope_.Value(q, curve, editorCursor)));
    } else {
        ScrollBar[bar].enabled = false;
        button.down = false;
        button.caption = "In";
    }
}

void EnvelopeEditor::ScrollBar13Change(int position) {
    editorCursor = Store(13, position);
    MoveAxesToCursor();
    Label[4] = std::to_string(editorCursor);
    const int length = envelope_.MixLength();
    // The outgoing curves are anchored at 0 and the incoming ones at the end: not editable there
    // until their key is inserted explicitly.
    ShowKeyAtCursor(1, V, 0, editorCursor != 0);
    ShowKeyAtCursor(2, V, 1, editorCursor != length);
    ShowKeyAtCursor(5, B, 0, editorCursor != 0);
    ShowKeyAtCursor(6, B, 1, editorCursor != length);
    for (int curve : {2, 3}) {
        const bool volumeKey = envelope_.IsKey(V, curve, editorCursor);
        ScrollBar[1 + curve].enabled = SpeedButton[1 + curve].down = volumeKey;
        const bool balanceKey = envelope_.IsKey(B, curve, editorCursor);
        ScrollBar[5 + curve].enabled = SpeedButton[5 + curve].down = balanceKey;
    }
    ++revision;
}

// ---- value bars

void EnvelopeEditor::WriteValue(int bar, Quantity q, int curve) {
    // The envelope interpolates the played curves as it stores; the hidden ones are only stored.
    envelope_.SetKeyPointValue(q, curve, editorCursor, ValueOfBar(q, ScrollBar[bar].position));
    Redraw(q, curve);
}

void EnvelopeEditor::ScrollBar1Change(int position) {
    Store(1, position);
    WriteValue(1, V, 0);
}
void EnvelopeEditor::ScrollBar2Change(int position) {
    Store(2, position);
    WriteValue(2, V, 1);
}
void EnvelopeEditor::ScrollBar3Change(int position) {
    Store(3, position);
    WriteValue(3, V, 2);
}
void EnvelopeEditor::ScrollBar4Change(int position) {
    Store(4, position);
    WriteValue(4, V, 3);
}
void EnvelopeEditor::ScrollBar5Change(int position) {
    Store(5, position);
    WriteValue(5, B, 0);
}
void EnvelopeEditor::ScrollBar6Change(int position) {
    Store(6, position);
    WriteValue(6, B, 1);
}
// The hidden balance bars and the rate bars carry a position and nothing else.
void EnvelopeEditor::ScrollBar7Change(int position) { Store(7, position); }
void EnvelopeEditor::ScrollBar8Change(int position) { Store(8, position); }
void EnvelopeEditor::ScrollBar9Change(int position) { Store(9, position); }
void EnvelopeEditor::ScrollBar10Change(int position) { Store(10, position); }
void EnvelopeEditor::ScrollBar11Change(int position) { Store(11, position); }
void EnvelopeEditor::ScrollBar12Change(int position) { Store(12, position); }

// ---- key buttons

void EnvelopeEditor::KeyButtonClick(int button, Quantity q, int curve) {
    KeyButton& b = SpeedButton[button];
    b.down = !b.down;
    if (b.down) {
        envelope_.InsertKeyPoint(q, curve, editorCursor);
        ScrollBar[button].enabled = true;
        b.caption = "De";
        SetPosition(button, BarPositionOf(q, envelope_.Value(q, curve, editorCursor)));
        Redraw(q, curve);
    } else {
        envelope_.DeleteKeyPoint(q, curve, editorCursor);  // clears the flag and interpolates
        ScrollBar[button].enabled = false;
        b.caption = "In";
        Redraw(q, curve);
    }
    ++revision;
}

void EnvelopeEditor::SpeedButton1Click() { KeyButtonClick(1, V, 0); }
void EnvelopeEditor::SpeedButton2Click() { KeyButtonClick(2, V, 1); }
void EnvelopeEditor::SpeedButton5Click() { KeyButtonClick(5, B, 0); }
void EnvelopeEditor::SpeedButton6Click() { KeyButtonClick(6, B, 1); }

// ---- length and positions

void EnvelopeEditor::ScrollBar15Change(int position) {
    envelope_.SetMixLength(Store(15, position));
    Redraw(V, 1);
    Redraw(B, 1);
    const int length = envelope_.MixLength();
    Charts[1].axisMax = Charts[2].axisMax = Charts[3].axisMax = length;
    Label[2] = std::to_string(length);
    // Each maximum pulls its bar back, which carries the cursor and the positions inside.
    SetMax(13, length);
    SetMax(14, length);
    SetMax(16, length - 1);
    MoveAxesToCursor();
    RedrawRates();
}

void EnvelopeEditor::ScrollBar14Change(int position) {
    const int p = Store(14, position);
    Label[1] = std::to_string(p);
    envelope_.SetFinishingPosition(p);
    Redraw(V, 0);
    Redraw(B, 0);
}

void EnvelopeEditor::ScrollBar16Change(int position) {
    const int p = Store(16, position);
    Label[3] = std::to_string(p);
    envelope_.SetStartingPosition(p);
    Redraw(V, 1);
    Redraw(B, 1);
    RedrawRates();
}

// ---- the tracks under the curves

void EnvelopeEditor::ShowTracks(bool on) {
    if (on == showTracks) return;
    showTracks = on;
    mixRevision = ++revision;
}

void EnvelopeEditor::ShowMix(MixView view) {
    if (view == mix) return;
    mix = std::move(view);
    mixRevision = ++revision;
}

void EnvelopeEditor::ShowPlayhead(double index) {
    if (index < 0) index = -1;
    if (index == playhead) return;
    playhead = index;
    ++revision;
}

// ---- points by the mouse, shapes and the defaults

namespace {

struct CurveOf {
    Quantity q;
    int curve;
};
std::optional<CurveOf> CurveOfBar(int bar) {
    switch (bar) {
        case 1: return CurveOf{V, 0};
        case 2: return CurveOf{V, 1};
        case 5: return CurveOf{B, 0};
        case 6: return CurveOf{B, 1};
        default: return std::nullopt;
    }
}

}  // namespace

void EnvelopeEditor::GrabKey(int bar, int index) {
    SetPosition(13, index);
    // An anchor shows "In" although it is a key point: pressed, it becomes one to edit.
    if (!SpeedButton[bar].down) SpeedButtonClick(bar);
}

void EnvelopeEditor::DragKey(int bar, int from, int to, int value) {
    const std::optional<CurveOf> c = CurveOfBar(bar);
    const int length = envelope_.MixLength();
    if (!c || from < 0 || from > length || !envelope_.IsKey(c->q, c->curve, from)) return;
    to = std::clamp(to, 0, length);
    const bool outgoing = c->curve == 0;
    if (outgoing && from == envelope_.FinishingPosition() && from != 0) {
        // The outgoing track's end: the finishing position, with its bar's limits.
        if (!mixRunning) SetPosition(14, to);
        to = envelope_.FinishingPosition();
    } else if (!outgoing && from == envelope_.StartingPosition() && from != length) {
        if (!mixRunning) SetPosition(16, to);
        to = envelope_.StartingPosition();
    } else if ((outgoing && from == 0) || (!outgoing && from == length)) {
        to = from;
    } else if (to != from) {
        // Between its neighbours, which it may not pass or land on.
        int low = from - 1, high = from + 1;
        while (low > 0 && !envelope_.IsKey(c->q, c->curve, low)) --low;
        while (high < length && !envelope_.IsKey(c->q, c->curve, high)) ++high;
        to = std::clamp(to, low + 1, high - 1);
        if (to != from) {
            GrabKey(bar, from);
            SpeedButtonClick(bar);  // out of its old place
            SetPosition(13, to);
            SpeedButtonClick(bar);  // into the new, with the value interpolation gave it there
        }
    }
    GrabKey(bar, to);
    const Bar& b = ScrollBar[bar];
    SetPosition(bar, std::clamp(BarPositionOf(c->q, value), b.min, b.max));
}

void EnvelopeEditor::ClearKeys(int bar, int keepA, int keepB) {
    const std::optional<CurveOf> c = CurveOfBar(bar);
    for (int i = 0; i <= envelope_.MixLength(); ++i) {
        if (i == keepA || i == keepB || !envelope_.IsKey(c->q, c->curve, i)) continue;
        GrabKey(bar, i);
        SpeedButtonClick(bar);
    }
}

void EnvelopeEditor::ApplyShape(Shape shape) {
    const int length = envelope_.MixLength(), finish = envelope_.FinishingPosition(),
              start = envelope_.StartingPosition();
    const int cursor = editorCursor;
    // The fade spans the two tracks' overlap; with none, the whole mix.
    int a = start, b = finish;
    if (b <= a) {
        a = 0;
        b = length;
    }
    ClearKeys(1, 0, finish);
    ClearKeys(2, start, length);
    const auto key = [this](int bar, int i, int value) {
        GrabKey(bar, i);
        DragKey(bar, i, i, value);
    };
    constexpr int kSteps = 8;  // keys enough for a curve in decibels to follow a gain's shape
    const double pi = std::acos(-1.0);
    for (int k = 0; k <= kSteps; ++k) {
        if (shape == Shape::Cut && k != 0 && k != kSteps) continue;
        const double t = static_cast<double>(k) / kSteps;
        const bool power = shape == Shape::EqualPower;
        const int i = a + static_cast<int>(std::lround(t * (b - a)));
        if (i != 0) key(1, i, VolumeOfGain(power ? std::cos(t * pi / 2) : 1 - t));
        if (i != length) key(2, i, VolumeOfGain(power ? std::sin(t * pi / 2) : t));
    }
    if (shape == Shape::Cut && b - a >= 2) {
        // Both at full up to the middle, then the outgoing one gone and the incoming one alone.
        const int m = (a + b) / 2;
        key(1, m, 0);
        key(1, m + 1, -10000);
        key(2, m, -10000);
        key(2, m + 1, 0);
    }
    SetPosition(13, cursor);
}

void EnvelopeEditor::ResetToDefaults() {
    if (mixRunning) return;
    envelope_.SetDefaults();
    Resync();
}

}  // namespace quendo
