#include "PhraseSynth.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace bench {

namespace {

constexpr double kTwoPi = 6.283185307179586;

class Noise {
public:
    explicit Noise(std::uint32_t seed) : s_(seed * 2654435761u | 1u) {}
    double Next() {  // -1 .. 1
        s_ ^= s_ << 13;
        s_ ^= s_ >> 17;
        s_ ^= s_ << 5;
        return (s_ >> 8) * (2.0 / 16777216.0) - 1;
    }
    double Uniform() { return (Next() + 1) / 2; }

private:
    std::uint32_t s_;
};

double MidiHz(double note) { return 440.0 * std::pow(2.0, (note - 69) / 12); }

const int kMajor[7] = {0, 2, 4, 5, 7, 9, 11};
const int kMinor[7] = {0, 2, 3, 5, 7, 8, 10};

bool HasBass(Part p) { return p == Part::Full || p == Part::RadioEdit || p == Part::FadeOut; }
bool HasKick(Part p) { return p != Part::Breakdown; }
bool HasChords(Part p) { return p != Part::Intro && p != Part::Outro; }

class Renderer {
public:
    Renderer(const PhraseSpec& spec, int rate, std::size_t frames)
        : spec_(spec), rate_(rate), n_(frames), l_(frames), r_(frames), noise_(spec.seed) {}

    void Kick(double t, double amp) {
        const std::size_t a = At(t), len = At(0.35);
        double phase = 0;
        for (std::size_t i = 0; i < len; ++i) {
            const double x = static_cast<double>(i) / rate_;
            phase += (50 + 100 * std::exp(-x * 35)) / rate_;
            double v = std::sin(kTwoPi * phase) * std::exp(-x * 9);
            if (x < 0.003) v += noise_.Next() * 0.3;
            Put(a + i, v * amp, 0);
        }
    }
    void Clap(double t, double amp) {
        const std::size_t a = At(t), len = At(0.2);
        double lp = 0, prev = 0;
        for (std::size_t i = 0; i < len; ++i) {
            const double x = static_cast<double>(i) / rate_;
            lp += 0.4 * (noise_.Next() - lp);
            const double band = lp - prev;
            prev = lp;
            Put(a + i, 2.2 * band * std::exp(-x * 20) * amp, 0.05);
        }
    }
    // Differenced noise: hats when short, a crash when long.
    void Hat(double t, double amp, double decay, double pan) {
        const std::size_t a = At(t), len = At(std::min(2.0, 6 / decay));
        double prev = 0;
        for (std::size_t i = 0; i < len; ++i) {
            const double x = static_cast<double>(i) / rate_;
            const double n = noise_.Next();
            Put(a + i, (n - prev) * 0.5 * amp * std::exp(-x * decay), pan);
            prev = n;
        }
    }
    // A round bass: a sine with a little third harmonic, nearly all of it below 120 Hz.
    void Bass(double t, double len, int note, double amp) {
        const std::size_t a = At(t), n = At(len + 0.02);
        const double dt = MidiHz(note) / rate_;
        double phase = 0;
        for (std::size_t i = 0; i < n; ++i) {
            const double x = static_cast<double>(i) / rate_;
            const double env = std::min(1.0, x / 0.004) * std::exp(-x * 1.5) * (x < len ? 1.0 : 1 - (x - len) / 0.02);
            const double s = std::sin(kTwoPi * phase);
            phase += dt;
            if (phase >= 1) phase -= 1;
            Put(a + i, (s + 0.15 * s * s * s) * env * amp, 0);
        }
    }
    void Chord(double t, double len, const std::array<int, 3>& notes, double amp, double attack) {
        const double release = std::max(0.1, attack);
        const std::size_t a = At(t), n = At(len + release);
        for (std::size_t k = 0; k < notes.size(); ++k) {
            const double dt = MidiHz(notes[k]) * (1 + 0.002 * (static_cast<double>(k) - 1)) / rate_;
            double phase = 0.3 * static_cast<double>(k);
            for (std::size_t i = 0; i < n; ++i) {
                const double x = static_cast<double>(i) / rate_;
                const double env = std::min(1.0, x / attack) * (x < len ? 1.0 : std::max(0.0, 1 - (x - len) / release));
                double s = 0;
                for (int h = 1; h <= 4; ++h) s += std::sin(kTwoPi * h * phase) / h;
                Put(a + i, 0.55 * s * env * amp, (static_cast<double>(k) - 1) * 0.4);
                phase += dt;
                if (phase >= 1) phase -= 1;
            }
        }
    }

    std::array<int, 3> ChordOf(int degree) const {
        const bool minor = spec_.key >= 12;
        const int* scale = minor ? kMinor : kMajor;
        std::array<int, 3> notes{};
        for (int k = 0; k < 3; ++k) {
            const int d = degree + 2 * k;
            int note = 48 + spec_.key % 12 + scale[d % 7] + 12 * (d / 7);
            if (minor && d % 7 == 6) ++note;
            while (note < 55) note += 12;
            while (note >= 79) note -= 12;
            notes[static_cast<std::size_t>(k)] = note;
        }
        return notes;
    }
    int ScaleStep(int degree) const { return (spec_.key >= 12 ? kMinor : kMajor)[degree % 7]; }

    void Gain(std::size_t from, std::size_t to, double fromDb, double toDb) {
        for (std::size_t i = from; i < std::min(to, n_); ++i) {
            const double x = static_cast<double>(i - from) / static_cast<double>(std::max<std::size_t>(1, to - from));
            const auto g = static_cast<float>(std::pow(10.0, (fromDb + (toDb - fromDb) * x) / 20));
            l_[i] *= g;
            r_[i] *= g;
        }
    }
    void Silence(std::size_t from) {
        for (std::size_t i = from; i < n_; ++i) l_[i] = r_[i] = 0;
    }
    std::vector<float> Stereo() const {
        float peak = 1e-9f;
        for (std::size_t i = 0; i < n_; ++i) peak = std::max({peak, std::fabs(l_[i]), std::fabs(r_[i])});
        const float gain = 0.891f / peak;
        std::vector<float> out(2 * n_);
        for (std::size_t i = 0; i < n_; ++i) out[2 * i] = l_[i] * gain, out[2 * i + 1] = r_[i] * gain;
        return out;
    }
    std::size_t At(double t) const { return static_cast<std::size_t>(std::lround(std::max(0.0, t) * rate_)); }
    Noise& Rand() { return noise_; }

private:
    void Put(std::size_t i, double v, double pan) {
        if (i >= n_) return;
        l_[i] += static_cast<float>(v * (1 - pan) / 2);
        r_[i] += static_cast<float>(v * (1 + pan) / 2);
    }

    const PhraseSpec spec_;
    const int rate_;
    const std::size_t n_;
    std::vector<float> l_, r_;
    Noise noise_;
};

}  // namespace

int PhraseTrack::BarAt(double t) const {
    if (t < 0 || downbeats.empty()) return -1;
    const auto it = std::lower_bound(downbeats.begin(), downbeats.end(), t - 1e-6);
    return static_cast<int>(it - downbeats.begin());
}

PhraseTrack SynthesizePhrases(const PhraseSpec& spec, int rate) {
    PhraseTrack out;
    out.rate = rate;
    const double beat = 60 / spec.bpm, barSeconds = 4 * beat;
    for (const Section& s : spec.sections) out.bars += s.bars;
    out.end = spec.lead + out.bars * barSeconds;
    // A radio edit stops dead at its end; anything else rings out for a second.
    const bool cut = !spec.sections.empty() && spec.sections.back().part == Part::RadioEdit;
    const double tail = cut ? 0.3 : 1.5;
    Renderer r(spec, rate, static_cast<std::size_t>((out.end + tail) * rate));

    const int progression[4] = {0, 5, 3, 4};  // I vi IV V
    int bar = 0;
    double fadeFrom = -1;
    for (const Section& section : spec.sections) {
        const Part p = section.part;
        out.phrases.push_back(spec.lead + bar * barSeconds);
        if (p == Part::FadeOut) fadeFrom = spec.lead + bar * barSeconds;
        for (int b = 0; b < section.bars; ++b, ++bar) {
            const double t0 = spec.lead + bar * barSeconds;
            const auto beatAt = [&](double k) { return t0 + k * beat; };
            out.downbeats.push_back(t0);
            for (int k = 0; k < 4; ++k) out.beats.push_back(beatAt(k));
            const double vel = 0.92 + 0.08 * r.Rand().Uniform();
            const bool accent = spec.marks == BarMark::Accent;
            // A crash opens each section (each bar when the accent marks the bars).
            if (b == 0) r.Hat(t0, 0.35, 3, -0.3);
            if (HasKick(p)) {
                for (int k = 0; k < 4; ++k) r.Kick(beatAt(k), 0.8 * vel);
                for (int k : {1, 3}) r.Clap(beatAt(k), 0.35 * vel);
                if (accent) r.Clap(t0, 0.7 * vel);
            }
            for (int k = 0; k < 4; ++k) r.Hat(beatAt(k + 0.5), (p == Part::Breakdown ? 0.12 : 0.25) * vel, 30, 0.3);
            for (int k = 0; k < 8; ++k) r.Hat(beatAt(k / 2.0), 0.08, 70, 0.35);
            // The chord: a new one each bar, or one for the whole track.
            const int degree = spec.marks == BarMark::Chords ? progression[bar % 4] : 0;
            if (HasChords(p)) {
                const double attack = p == Part::Breakdown ? 0.3 : 0.02;
                if (spec.marks == BarMark::Chords)
                    r.Chord(t0, 3.8 * beat, r.ChordOf(degree), 0.08, attack);
                else  // the same chord on every beat: nothing to hear of the bar in it
                    for (int k = 0; k < 4; ++k) r.Chord(beatAt(k), 0.9 * beat, r.ChordOf(degree), 0.07, attack);
            }
            if (HasBass(p)) {
                const int root = spec.bassNote + (spec.marks == BarMark::Chords ? r.ScaleStep(degree) : 0);
                const int note = root > spec.bassNote + 6 ? root - 12 : root;
                if (spec.marks == BarMark::Bass) {
                    // A long note on the first beat, then off-beat stabs a fifth up.
                    r.Bass(t0, 1.4 * beat, note, 0.75);
                    for (int k = 2; k < 4; ++k) r.Bass(beatAt(k + 0.5), 0.4 * beat, note + 7, 0.6);
                } else {
                    // Rolling eighths, the same on every beat.
                    for (int k = 0; k < 8; ++k) r.Bass(beatAt(k / 2.0), 0.45 * beat, note, 0.6);
                }
            }
        }
        if (HasBass(p)) {
            if (out.bassIn < 0) out.bassIn = out.phrases.back();
            out.bassOut = p == Part::FadeOut ? out.phrases.back() : spec.lead + bar * barSeconds;
        }
    }
    if (fadeFrom >= 0) {
        out.fadeOut = fadeFrom;
        r.Gain(r.At(fadeFrom), r.At(out.end), 0, spec.fadeDb);
        r.Silence(r.At(out.end));
    }
    if (cut) r.Silence(r.At(out.end));
    out.stereo = r.Stereo();
    return out;
}

std::string Describe(const PhraseSpec& spec) {
    static const char* kParts = "ifbord";  // intro, full, breakdown, outro, radio edit, fade-out (down)
    static const char* kMarks[] = {"chords", "bass", "accent"};
    std::string s = std::to_string(static_cast<int>(std::lround(spec.bpm))) + " " + kMarks[static_cast<int>(spec.marks)];
    for (const Section& sec : spec.sections) s += std::string(" ") + kParts[static_cast<int>(sec.part)] + std::to_string(sec.bars);
    return s;
}

}  // namespace bench
