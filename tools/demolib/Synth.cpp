#include "Synth.h"

#include <algorithm>
#include <cmath>

namespace demolib {

namespace {

constexpr double kPi = 3.14159265358979323846;

class Rng {
public:
    explicit Rng(std::uint32_t seed) : s_(seed * 2654435761u + 0x9E3779B9u) {
        if (s_ == 0) s_ = 1;
    }
    std::uint32_t Next() {
        s_ ^= s_ << 13;
        s_ ^= s_ >> 17;
        s_ ^= s_ << 5;
        return s_;
    }
    double Uniform() { return (Next() >> 8) * (1.0 / 16777216.0); }  // [0, 1)
    double Bipolar() { return Uniform() * 2 - 1; }
    int Pick(int n) { return static_cast<int>(Uniform() * n); }

private:
    std::uint32_t s_;
};

// Table sine, phase in cycles: the synthesis calls it several times per sample and voice.
struct SineTable {
    float v[4097];
    SineTable() {
        for (int i = 0; i <= 4096; ++i) v[i] = static_cast<float>(std::sin(2 * kPi * i / 4096));
    }
};
const SineTable kSine;

double Sin1(double phase) {
    const double x = (phase - static_cast<double>(static_cast<std::int64_t>(phase))) * 4096;
    const double y = x < 0 ? x + 4096 : x;
    const int i = static_cast<int>(y);
    return kSine.v[i] + (kSine.v[i + 1] - kSine.v[i]) * (y - i);
}

// exp(-rate * t), advanced one sample at a time.
struct Decay {
    double value = 1, factor;
    Decay(double perSecond, int sampleRate) : factor(std::exp(-perSecond / sampleRate)) {}
    double Next() {
        const double v = value;
        value *= factor;
        return v;
    }
};

double MidiHz(double note) { return 440.0 * std::pow(2.0, (note - 69) / 12); }

// Band-limited corrections for the discontinuities of naive saw and square waves.
double PolyBlep(double t, double dt) {
    if (t < dt) {
        t /= dt;
        return t + t - t * t - 1;
    }
    if (t > 1 - dt) {
        t = (t - 1) / dt;
        return t * t + t + t + 1;
    }
    return 0;
}

struct Osc {
    double phase = 0;
    double Saw(double dt) {
        const double v = 2 * phase - 1 - PolyBlep(phase, dt);
        Advance(dt);
        return v;
    }
    double Square(double dt) {
        double p2 = phase + 0.5;
        if (p2 >= 1) p2 -= 1;
        const double v = (phase < 0.5 ? 1.0 : -1.0) + PolyBlep(phase, dt) - PolyBlep(p2, dt);
        Advance(dt);
        return v;
    }
    double Sine(double dt) {
        const double v = Sin1(phase);
        Advance(dt);
        return v;
    }
    void Advance(double dt) {
        phase += dt;
        phase -= std::floor(phase);
    }
};

// Zero-delay state-variable filter; the cutoff is recomputed only when asked.
struct Svf {
    double ic1 = 0, ic2 = 0, g = 0.1, k = 1.4;
    void Set(double cutoff, int rate, double q = 0.7) {
        cutoff = std::clamp(cutoff, 20.0, rate * 0.45);
        g = std::tan(kPi * cutoff / rate);
        k = 1 / q;
    }
    // Returns the low-pass output; band and high are left in the arguments if wanted.
    double Run(double v0, double* band = nullptr, double* high = nullptr) {
        const double a1 = 1 / (1 + g * (g + k)), a2 = g * a1, a3 = g * a2;
        const double v3 = v0 - ic2;
        const double v1 = a1 * ic1 + a2 * v3;
        const double v2 = ic2 + a2 * ic1 + a3 * v3;
        ic1 = 2 * v1 - ic1;
        ic2 = 2 * v2 - ic2;
        if (band) *band = v1;
        if (high) *high = v0 - k * v1 - v2;
        return v2;
    }
};

// A stereo bus the instruments add into.
struct Pan {
    double l, r;
    explicit Pan(double pan) : l(std::cos((pan + 1) * kPi / 4)), r(std::sin((pan + 1) * kPi / 4)) {}  // -1 .. 1, equal power
};

struct Bus {
    std::vector<float> l, r;
    explicit Bus(std::size_t n) : l(n, 0.f), r(n, 0.f) {}
    void Add(std::size_t i, double v, const Pan& pan) {
        if (i >= l.size()) return;
        l[i] += static_cast<float>(v * pan.l);
        r[i] += static_cast<float>(v * pan.r);
    }
};

const int kMajor[7] = {0, 2, 4, 5, 7, 9, 11};
const int kMinor[7] = {0, 2, 3, 5, 7, 8, 10};

class Song {
public:
    Song(const Style& s, double seconds, int rate, std::uint32_t seed)
        : s_(s), rate_(rate), n_(static_cast<std::size_t>(seconds * rate)), rng_(seed),
          mix_(n_), lead_(n_) {}

    std::vector<float> Render();

private:
    int Semis(int degree) const {
        const int* scale = s_.minor ? kMinor : kMajor;
        const int oct = degree >= 0 ? degree / 7 : -((-degree + 6) / 7);
        return scale[degree - oct * 7] + 12 * oct;
    }
    std::size_t At(double seconds) const { return static_cast<std::size_t>(std::max(0.0, seconds) * rate_); }
    double StepTime(int bar, int step) const {
        const double sixteenth = 60.0 / s_.bpm / 4;
        double t = (bar * 16 + step) * sixteenth;
        if (step % 2 == 1) t += s_.swing * sixteenth;
        return t;
    }

    void Kick(double t, double amp);
    void Snare(double t, double amp);
    void Clap(double t, double amp);
    void Hat(double t, double amp, bool open);
    void Shaker(double t, double amp);
    void BassNote(double t, double len, double note, double amp);
    void PadChord(double t, double len, const std::vector<double>& notes, double amp);
    void LeadNote(double t, double len, double note, double amp);
    // A plucked string into scratch_, from its start; returns the sample count.
    std::size_t Pluck(double len, double note, double bright);

    const Style s_;
    const int rate_;
    const std::size_t n_;
    Rng rng_;
    Bus mix_, lead_;  // the melody apart, for its echo
    std::vector<float> scratch_;
};

void Song::Kick(double t, double amp) {
    const std::size_t a = At(t), len = At(0.45);
    const double soft = s_.genre == Genre::Lounge ? 0.6 : 1.0;
    double phase = 0;
    Decay sweep(28, rate_), body(6.5, rate_);
    const Pan pan(0);
    for (std::size_t i = 0; i < len; ++i) {
        const double x = static_cast<double>(i) / rate_;
        const double f = 48 + 120 * sweep.Next();
        phase += f / rate_;
        double v = Sin1(phase) * body.Next();
        if (x < 0.004) v += rng_.Bipolar() * 0.3 * soft * (1 - x / 0.004);
        mix_.Add(a + i, v * amp * soft, pan);
    }
}

void Song::Snare(double t, double amp) {
    const std::size_t a = At(t), len = At(0.3);
    Svf hp;
    hp.Set(1800, rate_, 0.8);
    Decay tone(25, rate_), noise(16, rate_);
    const Pan pan(0.05);
    for (std::size_t i = 0; i < len; ++i) {
        const double x = static_cast<double>(i) / rate_;
        double high = 0;
        hp.Run(rng_.Bipolar(), nullptr, &high);
        const double body = Sin1(185 * x) * tone.Next() * 0.6;
        mix_.Add(a + i, (body + high * 0.8 * noise.Next()) * amp, pan);
    }
}

void Song::Clap(double t, double amp) {
    const std::size_t a = At(t), len = At(0.25);
    Svf bp;
    bp.Set(1400, rate_, 1.5);
    Decay tail(14, rate_);
    const Pan pan(-0.08);
    for (std::size_t i = 0; i < len; ++i) {
        const double x = static_cast<double>(i) / rate_;
        // Three quick bursts, then the tail.
        double env = tail.Next();
        for (double b : {0.0, 0.011, 0.022})
            if (x >= b && x < b + 0.01) env += std::exp(-(x - b) * 300) * 1.5;
        double band = 0;
        bp.Run(rng_.Bipolar(), &band);
        mix_.Add(a + i, band * env * amp * 1.6, pan);
    }
}

void Song::Hat(double t, double amp, bool open) {
    const std::size_t a = At(t), len = At(open ? 0.35 : 0.07);
    Svf hp;
    hp.Set(7500, rate_, 0.9);
    Decay env(open ? 9 : 70, rate_);
    const Pan pan(0.3);
    for (std::size_t i = 0; i < len; ++i) {
        double high = 0;
        hp.Run(rng_.Bipolar(), nullptr, &high);
        mix_.Add(a + i, high * env.Next() * amp, pan);
    }
}

void Song::Shaker(double t, double amp) {
    const std::size_t a = At(t), len = At(0.09);
    Svf bp;
    bp.Set(5500, rate_, 1.2);
    Decay decay(40, rate_);
    const Pan pan(-0.35);
    for (std::size_t i = 0; i < len; ++i) {
        const double x = static_cast<double>(i) / rate_;
        const double env = std::min(1.0, x / 0.02) * decay.Next();
        double band = 0;
        bp.Run(rng_.Bipolar(), &band);
        mix_.Add(a + i, band * env * amp, pan);
    }
}

void Song::BassNote(double t, double len, double note, double amp) {
    if (s_.bass == BassSound::Pluck) {
        const std::size_t a = At(t), n = Pluck(len, note, 0.5);
        const Pan centre(0);
        for (std::size_t i = 0; i < n; ++i) mix_.Add(a + i, scratch_[i] * amp * 1.3, centre);
        return;
    }
    const std::size_t a = At(t), n = At(len + 0.05);
    const double dt = MidiHz(note) / rate_;
    Osc o, sub;
    Svf lp;
    Decay body(1.5, rate_), sweep(9, rate_);
    const Pan pan(0);
    for (std::size_t i = 0; i < n; ++i) {
        const double x = static_cast<double>(i) / rate_;
        const double env = std::min(1.0, x / 0.004) * (x < len ? 1.0 : std::max(0.0, 1 - (x - len) / 0.05));
        double v;
        if (s_.bass == BassSound::Sub) {
            const double s = sub.Sine(dt);
            v = s + 0.25 * s * s * s;  // a touch of harmonics so it reads on small speakers
            v *= env * body.Next();
        } else {
            const double s = sweep.Next();
            if (i % 32 == 0) lp.Set(250 + 1800 * s, rate_, 2.5);
            v = lp.Run(o.Saw(dt)) * env * 0.9;
        }
        mix_.Add(a + i, v * amp, pan);
    }
}

std::size_t Song::Pluck(double len, double note, double bright) {
    // Karplus-Strong string.
    const std::size_t n = At(len + 0.08);
    if (scratch_.size() < n) scratch_.resize(n);
    const double period = rate_ / MidiHz(note);
    const std::size_t d = std::max<std::size_t>(2, static_cast<std::size_t>(period));
    std::vector<double> line(d);
    Svf shape;
    shape.Set(800 + 5000 * bright, rate_);
    for (double& v : line) v = shape.Run(rng_.Bipolar());
    double prev = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const double x = static_cast<double>(i) / rate_;
        const std::size_t k = i % d;
        const double cur = line[k];
        line[k] = (cur + prev) * 0.5 * 0.996;
        prev = cur;
        const double env = x < len ? 1.0 : std::max(0.0, 1 - (x - len) / 0.08);
        scratch_[i] = static_cast<float>(cur * env);
    }
    return n;
}

void Song::PadChord(double t, double len, const std::vector<double>& notes, double amp) {
    const std::size_t a = At(t);
    if (s_.pad == PadSound::Guitar) {
        // Power chord strummed as driven plucks, two layers panned apart.
        const double strum = 0.012;
        for (std::size_t k = 0; k < notes.size(); ++k) {
            const std::size_t n = Pluck(len, notes[k], 0.8);
            const Pan pan(k % 2 ? 0.45 : -0.45);
            for (std::size_t i = 0; i < n; ++i)
                mix_.Add(a + i + At(k * strum), std::tanh(scratch_[i] * 3.5) * 0.28 * amp, pan);
        }
        return;
    }
    const double attack = s_.pad == PadSound::Saw ? 0.08 : 0.005;
    const std::size_t n = At(len + 0.4);
    for (std::size_t k = 0; k < notes.size(); ++k) {
        const double f = MidiHz(notes[k]);
        const Pan pan((static_cast<double>(k) / std::max<std::size_t>(1, notes.size() - 1) - 0.5) * 0.7);
        Osc o1, o2, mod, car, lfo;
        Decay index(3, rate_), body(1.1, rate_);
        o2.phase = 0.37;
        Svf lp;
        lp.Set(1600, rate_);
        for (std::size_t i = 0; i < n; ++i) {
            const double x = static_cast<double>(i) / rate_;
            const double rel = x < len ? 1.0 : std::max(0.0, 1 - (x - len) / 0.4);
            const double env = std::min(1.0, x / attack) * rel;
            double v = 0;
            switch (s_.pad) {
                case PadSound::Saw: {
                    if (i % 64 == 0) lp.Set(900 + 900 * std::sin(x * 1.3 + k) + 400, rate_);
                    v = lp.Run(o1.Saw(f * 1.004 / rate_) + o2.Saw(f * 0.996 / rate_)) * 0.35;
                    break;
                }
                case PadSound::EPiano: {
                    // Two-operator FM: the bright attack mellows as the index decays.
                    const double m = mod.Sine(f / rate_) * (0.3 + 1.8 * index.Next());
                    car.Advance(f / rate_);
                    v = Sin1(car.phase + m / (2 * kPi)) * body.Next() * 0.55;
                    break;
                }
                case PadSound::Organ: {
                    const double trem = 1 + 0.15 * lfo.Sine(5.5 / rate_);
                    car.Advance(f / rate_);
                    const double p = car.phase;
                    v = (Sin1(p) + 0.6 * Sin1(2 * p) + 0.35 * Sin1(3 * p) + 0.2 * Sin1(4 * p) + 0.1 * Sin1(6 * p)) * 0.22 * trem;
                    break;
                }
                case PadSound::Guitar:
                    break;
            }
            mix_.Add(a + i, v * env * amp * 0.8, pan);
        }
    }
}

void Song::LeadNote(double t, double len, double note, double amp) {
    const std::size_t a = At(t), n = At(len + 0.12);
    const double f = MidiHz(note);
    Osc o, mod, vib;
    Svf lp;
    Decay index(4, rate_), body(2.2, rate_);
    const Pan pan(0.1);
    lp.Set(s_.lead == LeadSound::Saw ? 2200 : 3200, rate_);
    for (std::size_t i = 0; i < n; ++i) {
        const double x = static_cast<double>(i) / rate_;
        const double rel = x < len ? 1.0 : std::max(0.0, 1 - (x - len) / 0.12);
        const double env = std::min(1.0, x / 0.01) * rel;
        const double bend = 1 + (x > 0.18 ? 0.004 * vib.Sine(5.2 / rate_) : 0);
        const double dt = f * bend / rate_;
        double v = 0;
        switch (s_.lead) {
            case LeadSound::Square:
                v = lp.Run(o.Square(dt)) * 0.3;
                break;
            case LeadSound::Saw:
                v = lp.Run(o.Saw(dt)) * 0.35;
                break;
            case LeadSound::Bell: {
                const double m = mod.Sine(dt * 3.5) * 1.2 * index.Next();
                o.Advance(dt);
                v = Sin1(o.phase + m / (2 * kPi)) * body.Next() * 0.5;
                break;
            }
            case LeadSound::Soft: {
                const double s = o.Sine(dt);
                v = (s + 0.15 * Sin1(2 * o.phase)) * 0.45;
                break;
            }
        }
        lead_.Add(a + i, v * env * amp, pan);
    }
}

std::vector<float> Song::Render() {
    const double barSeconds = 240.0 / s_.bpm;
    const int bars = static_cast<int>(std::ceil(n_ / static_cast<double>(rate_) / barSeconds));
    const double sixteenth = barSeconds / 16;

    // A four-bar melody, repeated with a variation in its last bar every other time.
    struct Note {
        int step, len, degree;
    };
    std::vector<Note> motif[4], variant;
    {
        int degree = 4 + rng_.Pick(3);
        for (int bar = 0; bar < 4; ++bar) {
            for (int step = 0; step < 16;) {
                const double p = step % 4 == 0 ? 0.75 : step % 2 == 0 ? 0.45 : 0.15;
                if (rng_.Uniform() < p * (0.5 + s_.density)) {
                    static const int kMoves[] = {-2, -1, -1, 0, 1, 1, 2, -3, 3};
                    degree = std::clamp(degree + kMoves[rng_.Pick(9)], 0, 11);
                    int chordDeg = s_.progression[bar];
                    if (step == 0) {  // land on a chord tone at the bar line
                        int best = degree, bestDist = 99;
                        for (int d = 0; d <= 11; ++d) {
                            const int rel = ((d - chordDeg) % 7 + 7) % 7;
                            if ((rel == 0 || rel == 2 || rel == 4) && std::abs(d - degree) < bestDist) {
                                best = d;
                                bestDist = std::abs(d - degree);
                            }
                        }
                        degree = best;
                    }
                    const int len = 1 + rng_.Pick(step % 4 == 0 ? 4 : 2);
                    motif[bar].push_back({step, std::min(len, 16 - step), degree});
                    step += len;
                } else {
                    ++step;
                }
            }
        }
        for (const Note& nt : motif[3]) variant.push_back({nt.step, nt.len, std::max(0, nt.degree + (nt.step < 8 ? 2 : -1))});
    }

    const int leadBase = s_.root + 12;
    for (int bar = 0; bar < bars; ++bar) {
        const bool intro = bar < 4, outro = bar >= bars - 2;
        const int phase = intro || outro ? -1 : ((bar - 4) / 8) % 4;
        const bool kick = !intro && !outro && phase != 2, bassOn = !intro, leadOn = phase == 1 || phase == 3 || phase == 2;
        const bool hats = bar >= 2 && !outro;
        const int chord = s_.progression[bar % 4];

        // Drums.
        for (int step = 0; step < 16; ++step) {
            const double t = StepTime(bar, step);
            switch (s_.genre) {
                case Genre::House:
                    if (kick && step % 4 == 0) Kick(t, 0.95);
                    if (kick && (step == 4 || step == 12)) Clap(t, 0.5);
                    if (hats && step % 4 == 2) Hat(t, phase == 3 ? 0.32 : 0.22, phase == 3);
                    if (hats && step % 2 == 1) Hat(t, 0.08, false);
                    break;
                case Genre::Lounge:
                    if (kick && (step == 0 || step == 10)) Kick(t, 0.8);
                    if (kick && (step == 4 || step == 12)) Snare(t, 0.22);
                    if (hats && step % 2 == 0) Hat(t, step % 4 == 0 ? 0.14 : 0.09, false);
                    if (hats && step % 2 == 1) Shaker(t, 0.12);
                    break;
                case Genre::Rock:
                    if (kick && (step == 0 || step == 8 || step == 10 || (bar % 2 && step == 14))) Kick(t, 0.95);
                    if (kick && (step == 4 || step == 12)) Snare(t, 0.6);
                    if (phase == 2 && step == 12) Snare(t, 0.3);
                    if (hats && step % 2 == 0) Hat(t, phase == 3 && step % 4 == 0 ? 0.25 : 0.16, phase == 3 && step == 0);
                    break;
            }
        }

        // Chords: voiced close around the middle of the keyboard.
        std::vector<double> notes;
        if (s_.pad == PadSound::Guitar) {
            int r = s_.root + Semis(chord);
            while (r > s_.root + 7) r -= 12;
            notes = {static_cast<double>(r), r + 7.0, r + 12.0};
        } else {
            const int extra = s_.genre == Genre::Lounge ? 4 : 3;
            for (int k = 0; k < extra; ++k) {
                int m = s_.root + 12 + Semis(chord + 2 * k);
                while (m >= s_.root + 24) m -= 12;
                notes.push_back(m);
            }
        }
        const double padAmp = intro ? 0.6 : 0.8;
        if (s_.pad == PadSound::Guitar) {
            if (!intro && phase != 2) {
                for (int step = 0; step < 16; step += 2) PadChord(StepTime(bar, step), sixteenth * 1.8, notes, 0.6);
            } else {
                PadChord(StepTime(bar, 0), barSeconds * 0.95, notes, 0.7);
            }
        } else if (s_.pad == PadSound::EPiano) {
            PadChord(StepTime(bar, 0), sixteenth * 6, notes, padAmp);
            PadChord(StepTime(bar, 6), sixteenth * 3, notes, padAmp * 0.7);
            PadChord(StepTime(bar, 10), sixteenth * 5, notes, padAmp * 0.8);
        } else if (s_.pad == PadSound::Organ && !intro) {
            for (int step : {2, 6, 10, 14}) PadChord(StepTime(bar, step), sixteenth * 1.5, notes, padAmp);
        } else {
            PadChord(StepTime(bar, 0), barSeconds, notes, padAmp);
        }

        // Bass.
        if (bassOn) {
            int b = s_.root + Semis(chord);
            while (b > 50) b -= 12;
            while (b < 33) b += 12;
            for (int step = 0; step < 16; ++step) {
                bool on = false;
                int note = b, len = 1;
                switch (s_.genre) {
                    case Genre::House: on = step % 4 == 2 || step == 15; len = step == 15 ? 1 : 2; break;
                    case Genre::Lounge:
                        on = step % 4 == 0;
                        len = 3;
                        if (step == 8) note = b + 7;
                        if (step == 12) note = b + Semis(chord + 2) - Semis(chord);  // walk up to the third
                        break;
                    case Genre::Rock: on = step % 2 == 0; len = 2; break;
                }
                if (on) BassNote(StepTime(bar, step), sixteenth * len * 0.92, note, outro ? 0.5 : 0.75);
            }
        }

        // Melody.
        if (leadOn) {
            const std::vector<Note>& line = (bar % 8 == 7) ? variant : motif[bar % 4];
            for (const Note& nt : line)
                LeadNote(StepTime(bar, nt.step), sixteenth * nt.len * 0.9, leadBase + Semis(nt.degree), phase == 2 ? 0.45 : 0.55);
        }
    }

    // Ping-pong delay on the melody, then a small room over everything.
    {
        const std::size_t d = At(sixteenth * 3);
        for (std::size_t i = d; i < n_; ++i) {
            lead_.l[i] += 0.35f * lead_.r[i - d];
            lead_.r[i] += 0.35f * lead_.l[i - d];
        }
    }
    std::vector<float> out(2 * n_);
    for (std::size_t i = 0; i < n_; ++i) {
        out[2 * i] = mix_.l[i] + lead_.l[i] * 0.7f;
        out[2 * i + 1] = mix_.r[i] + lead_.r[i] * 0.7f;
    }
    {
        static const double kComb[4] = {0.0297, 0.0371, 0.0411, 0.0437};
        // Damped feedback combs, slightly longer on the right for width.
        struct Comb {
            std::vector<float> buf;
            std::size_t at = 0;
            float lp = 0;
            float Run(float in) {
                float& y = buf[at];
                const float out = y;
                lp = lp * 0.3f + y * 0.7f;
                y = in + lp * 0.78f;
                if (++at == buf.size()) at = 0;
                return out;
            }
        };
        std::vector<Comb> left, right;
        for (double c : kComb) {
            left.push_back({std::vector<float>(At(c), 0.f)});
            right.push_back({std::vector<float>(At(c + 0.0011), 0.f)});
        }
        for (std::size_t i = 0; i < n_; ++i) {
            const float in = (out[2 * i] + out[2 * i + 1]) * 0.5f * 0.25f;
            float wl = 0, wr = 0;
            for (int c = 0; c < 4; ++c) {
                wl += left[c].Run(in);
                wr += right[c].Run(in);
            }
            out[2 * i] += wl * 0.3f;
            out[2 * i + 1] += wr * 0.3f;
        }
    }

    // Fades, then scale so that the loudest sample sits at -1.5 dBFS.
    const double fadeIn = 1.5, fadeOut = 3.0;
    const double total = static_cast<double>(n_) / rate_;
    for (std::size_t i = 0; i < n_; ++i) {
        const double x = static_cast<double>(i) / rate_;
        double g = 1;
        if (x < fadeIn) g = 0.5 - 0.5 * std::cos(kPi * x / fadeIn);
        if (total - x < fadeOut) g *= 0.5 - 0.5 * std::cos(kPi * std::max(0.0, total - x) / fadeOut);
        out[2 * i] = static_cast<float>(out[2 * i] * g);
        out[2 * i + 1] = static_cast<float>(out[2 * i + 1] * g);
    }
    float peak = 0;
    for (float v : out) peak = std::max(peak, std::fabs(v));
    if (peak > 0) {
        const float k = 0.84f / peak;
        for (float& v : out) v *= k;
    }
    return out;
}

}  // namespace

std::vector<float> RenderMusic(const Style& style, double seconds, int rate, std::uint32_t seed) {
    return Song(style, seconds, rate, seed).Render();
}

std::vector<float> RenderTone(double hz, double levelDb, double seconds, int rate) {
    const std::size_t n = static_cast<std::size_t>(seconds * rate);
    const double amp = std::pow(10.0, levelDb / 20);
    std::vector<float> out(2 * n);
    for (std::size_t i = 0; i < n; ++i) {
        // Phase from the sample index, so that long tones do not drift.
        const double ph = std::fmod(static_cast<double>(i) * hz, static_cast<double>(rate)) / rate;
        out[2 * i] = out[2 * i + 1] = static_cast<float>(amp * std::sin(2 * kPi * ph));
    }
    return out;
}

std::vector<float> RenderSilenceThenDense(double seconds, int rate, std::uint32_t seed) {
    static const Style kStyle{Genre::Rock, 132, 40, true, {0, 5, 3, 4}, PadSound::Guitar, LeadSound::Saw, BassSound::Acid, 0, 0.8};
    std::vector<float> out = RenderMusic(kStyle, seconds, rate, seed);
    const std::size_t n = out.size() / 2, half = n / 2;
    Rng rng(seed ^ 0xA5A5u);
    for (std::size_t i = 0; i < n; ++i) {
        for (int c = 0; c < 2; ++c) {
            float& v = out[2 * i + c];
            v = i < half ? 0.f : static_cast<float>(0.45 * v + 0.4 * rng.Bipolar());
        }
    }
    return out;
}

std::vector<float> ToChannels(const std::vector<float>& stereo, int channels) {
    if (channels == 2) return stereo;
    std::vector<float> mono(stereo.size() / 2);
    for (std::size_t i = 0; i < mono.size(); ++i) mono[i] = 0.5f * (stereo[2 * i] + stereo[2 * i + 1]);
    return mono;
}

std::vector<std::uint8_t> RenderCover(int width, int height, std::uint32_t seed) {
    Rng rng(seed);
    const double hue = rng.Uniform() * 2 * kPi;
    std::vector<std::uint8_t> rgb(static_cast<std::size_t>(width) * height * 3);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const double u = (x - width / 2.0) / width, v = (y - height / 2.0) / height;
            const double r = std::sqrt(u * u + v * v);
            const double ring = 0.5 + 0.5 * std::cos(r * 40);
            std::uint8_t* p = &rgb[(static_cast<std::size_t>(y) * width + x) * 3];
            for (int c = 0; c < 3; ++c) {
                const double base = 0.5 + 0.5 * std::sin(hue + c * 2.1 + u * 3);
                const double val = (base * 0.7 + ring * 0.3) * (1 - r) * 255 + rng.Bipolar() * 12;
                p[c] = static_cast<std::uint8_t>(std::clamp(val, 0.0, 255.0));
            }
        }
    }
    return rgb;
}

}  // namespace demolib
