#include "support/MusicSynth.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace quendo::testing {

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

// One period of a soft saw (four harmonics), read with linear interpolation.
struct Wave {
    std::array<float, 2049> v{};
    Wave() {
        for (int i = 0; i <= 2048; ++i) {
            double s = 0;
            for (int h = 1; h <= 4; ++h) s += std::sin(kTwoPi * h * i / 2048) / h;
            v[static_cast<std::size_t>(i)] = static_cast<float>(s * 0.55);
        }
    }
    double At(double phase) const {  // phase in [0, 1)
        const double x = phase * 2048;
        const auto i = static_cast<std::size_t>(x);
        return v[i] + (v[i + 1] - v[i]) * (x - static_cast<double>(i));
    }
};

double MidiHz(double note) { return 440.0 * std::pow(2.0, (note - 69) / 12); }

const int kMajor[7] = {0, 2, 4, 5, 7, 9, 11};
const int kMinor[7] = {0, 2, 3, 5, 7, 8, 10};

class Track {
public:
    Track(const MusicSpec& spec, int rate)
        : spec_(spec), rate_(rate), n_(static_cast<std::size_t>(spec.seconds * rate)), l_(n_), r_(n_), noise_(spec.seed) {}

    SynthMusic Render();

private:
    // Seconds at beat position b (0 = the first beat that sounds).
    double Time(double b) const {
        const double beat = 60 / spec_.bpm;
        if (spec_.groove != Groove::Drifting) return spec_.lead + b * beat;
        // The tempo swings by 4 % over 48 beats: the beat's length is beat * (1 + 0.04 sin).
        const double w = kTwoPi / 48;
        return spec_.lead + beat * (b + 0.04 / w * (1 - std::cos(w * b)));
    }
    std::size_t At(double t) const { return static_cast<std::size_t>(std::lround(std::max(0.0, t) * rate_)); }
    void Put(std::size_t i, double v, double pan) {  // pan -1 .. 1
        if (i >= n_) return;
        l_[i] += static_cast<float>(v * (1 - pan) / 2);
        r_[i] += static_cast<float>(v * (1 + pan) / 2);
    }

    void Kick(double t, double amp);
    void Snare(double t, double amp);
    void Hat(double t, double amp, double decay, double pan);
    void Bass(double t, double len, int note, double amp);
    void Chord(double t, double len, const std::array<int, 3>& notes, double amp, double attack);

    std::array<int, 3> ChordOf(int degree) const;
    int Root(int degree) const;

    const MusicSpec spec_;
    const int rate_;
    const std::size_t n_;
    std::vector<float> l_, r_;
    Noise noise_;
    Wave wave_;
};

void Track::Kick(double t, double amp) {
    const std::size_t a = At(t), len = At(0.4);
    double phase = 0;
    for (std::size_t i = 0; i < len; ++i) {
        const double x = static_cast<double>(i) / rate_;
        phase += (48 + 110 * std::exp(-x * 30)) / rate_;
        double v = std::sin(kTwoPi * phase) * std::exp(-x * 7);
        if (x < 0.003) v += noise_.Next() * 0.3;
        Put(a + i, v * amp, 0);
    }
}

void Track::Snare(double t, double amp) {
    const std::size_t a = At(t), len = At(0.25);
    double lp = 0, prev = 0;
    for (std::size_t i = 0; i < len; ++i) {
        const double x = static_cast<double>(i) / rate_;
        const double n = noise_.Next();
        lp += 0.35 * (n - lp);  // a band of noise: smoothed, then differenced
        const double band = lp - prev;
        prev = lp;
        const double v = 0.5 * std::sin(kTwoPi * 190 * x) * std::exp(-x * 25) + 2.2 * band * std::exp(-x * 16);
        Put(a + i, v * amp, 0.05);
    }
}

void Track::Hat(double t, double amp, double decay, double pan) {
    const std::size_t a = At(t), len = At(std::min(1.5, 6 / decay));
    double prev = 0;
    for (std::size_t i = 0; i < len; ++i) {
        const double x = static_cast<double>(i) / rate_;
        const double n = noise_.Next();
        Put(a + i, (n - prev) * 0.5 * amp * std::exp(-x * decay), pan);
        prev = n;
    }
}

void Track::Bass(double t, double len, int note, double amp) {
    const std::size_t a = At(t), n = At(len + 0.03);
    const double dt = MidiHz(note) / rate_;
    double phase = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const double x = static_cast<double>(i) / rate_;
        const double env = std::min(1.0, x / 0.005) * std::exp(-x * 2.5) * (x < len ? 1.0 : 1 - (x - len) / 0.03);
        const double s = std::sin(kTwoPi * phase);
        phase += dt;
        if (phase >= 1) phase -= 1;
        Put(a + i, (s + 0.3 * s * s * s + 0.2 * wave_.At(phase)) * env * amp, 0);
    }
}

void Track::Chord(double t, double len, const std::array<int, 3>& notes, double amp, double attack) {
    const double release = std::max(0.15, attack);
    const std::size_t a = At(t), n = At(len + release);
    for (std::size_t k = 0; k < notes.size(); ++k) {
        const double dt = MidiHz(notes[k]) * (1 + 0.002 * (static_cast<double>(k) - 1)) / rate_;
        const double pan = (static_cast<double>(k) - 1) * 0.4;
        double phase = 0.3 * static_cast<double>(k);
        for (std::size_t i = 0; i < n; ++i) {
            const double x = static_cast<double>(i) / rate_;
            const double env = std::min(1.0, x / attack) * (x < len ? 1.0 : std::max(0.0, 1 - (x - len) / release));
            Put(a + i, wave_.At(phase) * env * amp, pan);
            phase += dt;
            if (phase >= 1) phase -= 1;
        }
    }
}

// The triad on a scale degree, voiced between G3 and F#5; minor keys raise the seventh in V.
std::array<int, 3> Track::ChordOf(int degree) const {
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

int Track::Root(int degree) const {
    const int* scale = spec_.key >= 12 ? kMinor : kMajor;
    int note = 36 + spec_.key % 12 + scale[degree % 7];
    return note >= 46 ? note - 12 : note;
}

SynthMusic Track::Render() {
    SynthMusic out;
    out.rate = rate_;
    out.key = spec_.key;
    const bool beat = spec_.groove != Groove::Pad;
    out.bpm = beat && spec_.groove != Groove::Drifting ? spec_.bpm : 0;
    // A cadence a phrase: I IV V I (minor: i iv V i).
    const int progression[4] = {0, 3, 4, 0};
    const double end = spec_.seconds - 0.5;

    if (!beat) {
        // Chords that swell in and out at uneven times, over a held bass: harmony, no pulse.
        double t = spec_.lead;
        for (int c = 0; t < end; ++c) {
            const double len = 5 + 4 * noise_.Uniform();
            const int degree = progression[c % 4];
            Chord(t, len, ChordOf(degree), 0.1, 1.8);
            Bass(t + 0.7, len, Root(degree), 0.2);
            t += len;
        }
    } else {
        const double swing = spec_.groove == Groove::Swing ? 1.0 / 6 : 0;  // the off-eighth at 2/3 of the beat
        const double loose = spec_.groove == Groove::Drifting ? 0.008 : 0;
        for (int bar = 0;; ++bar) {
            const double first = bar * 4 - spec_.pickup;  // beat position of the bar's start
            if (Time(first) >= end) break;
            const int degree = progression[bar % 4];
            const auto chord = ChordOf(degree);
            const int root = Root(degree);
            // Step s of the bar (sixteenths), with the swing and the hands' looseness.
            const auto at = [&](double s) {
                double b = first + s / 4;
                if (std::fmod(s, 4) == 2) b += swing;
                return b;
            };
            const auto play = [&](double s, auto&& f) {
                const double b = at(s);
                if (b < 0 || Time(b) >= end) return;
                f(Time(b) + loose * noise_.Next());
            };
            const double vel = 0.9 + 0.1 * noise_.Uniform();
            if (bar % 8 == 0) play(0, [&](double t) { Hat(t, 0.35, 2.5, -0.3); });  // a crash each phrase
            switch (spec_.groove) {
                case Groove::FourOnTheFloor:
                    for (int s = 0; s < 16; s += 4) play(s, [&](double t) { Kick(t, 0.9); });
                    for (int s : {4, 12}) play(s, [&](double t) { Snare(t, 0.45 * vel); });
                    for (int s = 2; s < 16; s += 4) play(s, [&](double t) { Hat(t, 0.3 * vel, 25, 0.3); });
                    for (int s = 0; s < 16; s += 2) play(s, [&](double t) { Hat(t, 0.1, 70, 0.35); });
                    for (int s = 2; s < 16; s += 4) play(s, [&](double t) { Bass(t, 0.18, root, 0.4); });
                    play(0, [&](double t) { Chord(t, Time(first + 3.8) - Time(first), chord, 0.09, 0.02); });
                    break;
                case Groove::Breakbeat:
                    for (double s : {0.0, 10.0, noise_.Uniform() < 0.5 ? 6.0 : 11.0}) play(s, [&](double t) { Kick(t, 0.85 * vel); });
                    for (int s : {4, 12}) play(s, [&](double t) { Snare(t, 0.6 * vel); });
                    play(noise_.Uniform() < 0.5 ? 7 : 15, [&](double t) { Snare(t, 0.12); });
                    for (int s = 0; s < 16; s += 2) play(s, [&](double t) { Hat(t, s % 4 ? 0.1 : 0.14, s == 14 ? 10 : 60, 0.3); });
                    for (int s : {0, 3, 10}) play(s, [&](double t) { Bass(t, 0.2, root, 0.4); });
                    play(0, [&](double t) { Chord(t, Time(first + 1.4) - Time(first), chord, 0.09, 0.01); });
                    play(6, [&](double t) { Chord(t, Time(first + 1.8) - Time(first + 1.5), chord, 0.07, 0.01); });
                    break;
                case Groove::Swing: {
                    for (int s : {0, 8}) play(s, [&](double t) { Kick(t, 0.8 * vel); });
                    for (int s : {4, 12}) play(s, [&](double t) { Snare(t, 0.5 * vel); });
                    for (int s = 0; s < 16; s += 2) play(s, [&](double t) { Hat(t, s % 4 ? 0.09 : 0.12, 30, 0.3); });
                    const int walk[4] = {0, 2, 4, 5};  // up the scale from the chord's root
                    for (int k = 0; k < 4; ++k) play(4 * k, [&](double t) { Bass(t, 0.3, Root(degree + walk[k]), 0.35); });
                    play(0, [&](double t) { Chord(t, 0.5, chord, 0.1, 0.01); });
                    play(6, [&](double t) { Chord(t, 0.3, chord, 0.08, 0.01); });
                    break;
                }
                case Groove::Drifting:
                    for (int s : {0, 8, 10}) play(s, [&](double t) { Kick(t, 0.8 * vel); });
                    for (int s : {4, 12}) play(s, [&](double t) { Snare(t, 0.55 * vel); });
                    for (int s = 0; s < 16; s += 2) play(s, [&](double t) { Hat(t, 0.12, 40, 0.3); });
                    for (int s = 0; s < 16; s += 2) play(s, [&](double t) { Bass(t, 0.15, root, 0.3); });
                    play(0, [&](double t) { Chord(t, Time(first + 3.8) - Time(first), chord, 0.08, 0.02); });
                    break;
                case Groove::Pad:
                    break;
            }
        }
        for (int k = 0; out.bpm > 0 && Time(k) < end; ++k) {
            out.beats.push_back(Time(k));
            if ((k + spec_.pickup) % 4 == 0) out.downbeats.push_back(Time(k));
        }
    }

    // The fade-in, then the level: peak at -1 dBFS.
    float peak = 1e-9f;
    for (std::size_t i = 0; i < n_; ++i) {
        const double x = (static_cast<double>(i) / rate_ - spec_.lead) / std::max(1e-9, spec_.fadeIn);
        if (x < 1) {
            const auto g = static_cast<float>(std::pow(10.0, -3 * (1 - std::max(0.0, x))));
            l_[i] *= g;
            r_[i] *= g;
        }
        peak = std::max({peak, std::fabs(l_[i]), std::fabs(r_[i])});
    }
    const float gain = 0.891f / peak;
    out.stereo.resize(2 * n_);
    for (std::size_t i = 0; i < n_; ++i) {
        out.stereo[2 * i] = l_[i] * gain;
        out.stereo[2 * i + 1] = r_[i] * gain;
    }
    return out;
}

}  // namespace

SynthMusic SynthesizeMusic(const MusicSpec& spec, int rate) { return Track(spec, rate).Render(); }

}  // namespace quendo::testing
