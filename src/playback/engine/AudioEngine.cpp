#include "playback/engine/AudioEngine.h"

#include <SDL.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <limits>
#include <thread>

#include "playback/engine/Decoder.h"
#include "playback/engine/ProbePlayer.h"
#include "playback/engine/SpscRing.h"

namespace quendo::audio {

namespace {

constexpr std::uint64_t kNoEnd = std::numeric_limits<std::uint64_t>::max();
constexpr std::uint32_t kRingFrames = 1u << 16;  // about 1.5 s at 44.1 kHz
constexpr int kDecodeChunk = 4096;
constexpr std::uint32_t kRefillFrames = 16384;  // the decoder wakes to work in batches, not per chunk
constexpr int kPrimeFrames = 4096;     // buffered before a new file or seek is heard
constexpr float kFadeFrames = 256.0f;  // start, pause and seek fades (about 6 ms)
// Frames a playing deck holds back while its end is unknown: a fade from full level reaches its
// last step, 1/kFadeFrames, on the last frame there is.
constexpr std::uint64_t kStarveFrames = static_cast<std::uint64_t>(kFadeFrames) - 1;
constexpr auto kDecoderPoll = std::chrono::milliseconds(20);

// Heard position and its generation in one word, so a reader never pairs one seek's generation
// with another's position.
constexpr int kGenBits = 24;
constexpr std::uint64_t kFramesMask = (std::uint64_t{1} << (64 - kGenBits)) - 1;
std::uint64_t PackHeard(std::uint32_t gen, std::uint64_t frames) {
    return static_cast<std::uint64_t>(gen & ((1u << kGenBits) - 1)) << (64 - kGenBits) | (frames & kFramesMask);
}
std::uint32_t HeardGen(std::uint64_t packed) { return static_cast<std::uint32_t>(packed >> (64 - kGenBits)); }
std::uint64_t HeardFrames(std::uint64_t packed) { return packed & kFramesMask; }
bool SameGen(std::uint32_t a, std::uint32_t b) { return ((a ^ b) & ((1u << kGenBits) - 1)) == 0; }
// Generations count 1, 2, ... within kGenBits and skip 0, which only the first state has.
std::uint32_t NextGen(std::uint32_t gen) {
    const std::uint32_t next = (gen + 1) & ((1u << kGenBits) - 1);
    return next == 0 ? 1 : next;
}

}  // namespace

float VolumeGain(int volume) {
    if (volume >= 0) return 1.0f;
    if (volume <= -10000) return 0.0f;
    return static_cast<float>(std::pow(10.0, volume / 2000.0));
}

void BalanceGains(int balance, float& left, float& right) {
    left = right = 1.0f;
    if (balance > 0) left = VolumeGain(-balance);
    else if (balance < 0) right = VolumeGain(balance);
}

// One deck: the interface thread's player, a decoder thread filling the ring, and the mixer's
// side, which only touches atomics and its own state.
class DeckPlayer : public MediaPlayer {
public:
    DeckPlayer(AudioEngine& engine, int rate, int number)
        : engine_(engine), rate_(rate), number_(number), ring_(kRingFrames) {
        thread_ = std::thread([this] { DecoderLoop(); });
    }
    ~DeckPlayer() override {
        {
            std::lock_guard lock(mutex_);
            quit_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }

    // ---- interface thread ----
    void SetFileName(const std::string& path) override {
        // One open of the file serves the decoder and the length; a file without a length (no
        // audio found within the discovery bounds) does not play.
        auto decoder = std::make_unique<AudioDecoder>(rate_);
        bool ok = !path.empty() && decoder->Open(path);
        duration_ = ok ? decoder->Duration() : 0;
        ok = ok && duration_ > 0;
        open_ = ok;
        failed_ = !path.empty() && !ok;
        state_ = psStopped;
        playing_.store(false, std::memory_order_relaxed);
        seekTarget_ = 0;
        Post(ok ? Command{NewGen(), Command::kOpen, 0, std::move(decoder)} : Command{NewGen(), Command::kClose, 0, nullptr});
    }
    double Duration() override { return duration_; }
    double CurrentPosition() override {
        const std::uint64_t heard = heard_.load(std::memory_order_acquire);
        // Until the mixer has reached the newest seek, that seek's target.
        const double at =
            SameGen(HeardGen(heard), gen_) ? static_cast<double>(HeardFrames(heard)) / rate_ : seekTarget_;
        // A seek past the end is heard as the end.
        return std::min(at, duration_);
    }
    void SetCurrentPosition(double seconds) override {
        if (!open_) return;
        seekTarget_ = std::max(0.0, seconds);
        Post(Command{NewGen(), Command::kSeek, seekTarget_, nullptr});
    }
    void SetVolume(int volume) override { volume_.store(volume, std::memory_order_relaxed); }
    void SetBalance(int balance) override { balance_.store(balance, std::memory_order_relaxed); }
    int PlayState() override { return state_; }
    void Play() override {
        if (!open_) {
            // Nothing to play: the caller still hears of the end, later, so that it moves on.
            if (failed_) {
                failPending_ = true;
                engine_.EventDue();
            }
            return;
        }
        if (delivered_ == gen_) SetCurrentPosition(0);  // played to the end: start again
        state_ = psPlaying;
        playing_.store(true, std::memory_order_release);
        wake_.notify_one();
    }
    void Pause() override {
        if (state_ != psPlaying) return;
        state_ = psPaused;
        playing_.store(false, std::memory_order_release);
    }

    // The end of this deck's file, if it is due. Interface thread.
    void DeliverEnd() {
        bool raise = false;
        if (failPending_) {
            failPending_ = false;
            raise = true;
        }
        const std::uint32_t ended = endedGen_.load(std::memory_order_acquire);
        if (open_ && ended == gen_ && delivered_ != gen_ && state_ == psPlaying) {
            delivered_ = gen_;
            state_ = psStopped;
            playing_.store(false, std::memory_order_relaxed);
            raise = true;
        }
        if (raise && EndOfStream) EndOfStream();
    }

    // Whether the mixer can run a block of `frames` without waiting on the decoder. Offline render
    // only, where the interface thread is also the mixer's.
    bool ReadyFor(int frames) {
        if (!playing_.load(std::memory_order_relaxed)) return true;
        const Published& p = Sync();
        if (p.gen != gen_) return false;
        const MixState& m = mix_;
        if (m.gen != p.gen) return true;  // the old material still fades out
        if (m.end != kNoEnd) return true;
        const std::uint64_t enough = std::max<std::uint64_t>(static_cast<std::uint64_t>(frames) + kStarveFrames, kPrimeFrames);
        return m.limit - m.readIdx >= enough ||
               reader_.FreeFrames() < static_cast<std::uint32_t>(kDecodeChunk);
    }
    void Wake() { wake_.notify_one(); }

    // Tests only, on the thread that mixes.
    AudioEngine::DeckRing RingForTest() const { return {reader_.Written(), reader_.ReadIndex(), mix_.start, mix_.readIdx}; }
    // Tests only, before the first file: the decoder thread reads it after taking that file's
    // command under the same lock.
    void SetDecodeGate(std::function<int(int, int)> gate) {
        std::lock_guard lock(mutex_);
        decodeGate_ = std::move(gate);
    }

    // ---- mixer: no locks, no allocation ----
    // Adds this deck into `out`; returns true when a playing deck ran short of data.
    bool MixInto(float* out, int frames) {
        std::uint32_t requested = 0;
        Sync(&requested);
        MixState& m = mix_;
        const bool current = m.gen == requested;
        const bool want = current && playing_.load(std::memory_order_acquire) && !m.ended;

        // Never past the generation's end, nor past the frames known to be this generation's.
        const std::uint64_t stop = std::min(m.end, m.limit);
        std::uint64_t avail = stop > m.readIdx ? stop - m.readIdx : 0;
        if (!m.primed && (avail >= kPrimeFrames || m.end != kNoEnd || reader_.FreeFrames() == 0)) m.primed = true;

        float tl, tr;
        BalanceGains(balance_.load(std::memory_order_relaxed), tl, tr);
        const float v = VolumeGain(volume_.load(std::memory_order_relaxed));
        tl *= v;
        tr *= v;
        if (!m.gainsSet) {
            m.gl = tl;
            m.gr = tr;
            m.gainsSet = true;
        }
        // The gains move linearly across this block to their new values.
        const float dl = (tl - m.gl) / static_cast<float>(frames);
        const float dr = (tr - m.gr) / static_cast<float>(frames);
        const bool fadeIn = want && m.primed;
        constexpr float step = 1.0f / kFadeFrames;
        // Until the end is known, the last frames are kept for a fade-out, so that a decoder
        // falling behind is heard as a short fade rather than a cut. Past this point the level
        // never exceeds what is left to fade out over.
        const std::uint64_t keep = m.end == kNoEnd ? kStarveFrames : 0;
        bool shortOfData = false;
        // The loop works on locals: stores through `out` could otherwise be taken to alias them.
        float gl = m.gl, gr = m.gr, fade = m.fade;
        std::uint64_t at = m.readIdx;
        int i = 0;
        while (i < frames) {
            if (fadeIn && fade >= 1.0f && avail > keep) {
                // At full level: a run of frames that lie in a row in the ring, with no fade to
                // follow (the same sums as below with a fade of exactly 1).
                const std::uint64_t run = std::min<std::uint64_t>(
                    {avail - keep, static_cast<std::uint64_t>(frames - i), reader_.RunFrom(at)});
                const float* s = reader_.At(at);
                float* o = out + 2 * i;
                for (std::uint64_t k = 0; k < run; ++k) {
                    gl += dl;
                    gr += dr;
                    o[2 * k] += s[2 * k] * gl;
                    o[2 * k + 1] += s[2 * k + 1] * gr;
                }
                i += static_cast<int>(run);
                at += run;
                avail -= run;
                continue;
            }
            gl += dl;
            gr += dr;
            const bool up = fadeIn && avail > keep;
            if (!up && fade <= 0.0f) {
                fade = 0.0f;
                if (fadeIn) shortOfData = true;  // starved: silent until the decoder catches up
                break;
            }
            if (avail == 0) {
                if (m.end != kNoEnd && at >= m.end) {
                    if (want && !m.ended) {
                        m.ended = true;
                        endedGen_.store(m.gen, std::memory_order_release);
                    }
                } else if (fadeIn) {
                    shortOfData = true;
                }
                fade = 0.0f;  // whatever comes next fades in
                break;
            }
            if (fadeIn && !up) shortOfData = true;
            fade = up ? std::min(1.0f, fade + step) : std::max(0.0f, fade - step);
            const float* s = reader_.At(at);
            out[2 * i] += s[0] * gl * fade;
            out[2 * i + 1] += s[1] * gr * fade;
            ++at;
            --avail;
            ++i;
        }
        m.gl = gl;
        m.gr = gr;
        m.fade = fade;
        m.readIdx = at;
        if (i < frames) {
            m.gl = tl;
            m.gr = tr;
        }
        // A file with nothing left (or nothing at all) ends even when no frame was mixed.
        if (want && !m.ended && m.primed && m.end != kNoEnd && m.readIdx >= m.end) {
            m.ended = true;
            endedGen_.store(m.gen, std::memory_order_release);
        }
        reader_.SkipTo(m.readIdx);
        heard_.store(PackHeard(m.gen, static_cast<std::uint64_t>(m.base) + (m.readIdx - m.start)), std::memory_order_release);
        return shortOfData;
    }

private:
    struct Command {
        std::uint32_t gen;
        enum Kind { kOpen, kSeek, kClose } kind;
        double seconds;
        std::unique_ptr<AudioDecoder> decoder;
    };
    // What the decoder thread tells the mixer about the newest generation it has started.
    struct Published {
        std::uint32_t gen = 0;
        std::uint64_t start = 0, end = kNoEnd;
        std::int64_t base = 0;
    };
    struct MixState {
        std::uint32_t gen = 0;
        std::uint64_t start = 0, readIdx = 0, end = kNoEnd;
        // Frames in [start, limit) are known to be this generation's: readIdx never passes it.
        std::uint64_t limit = 0;
        std::int64_t base = 0;
        bool primed = false, ended = false, gainsSet = false;
        float fade = 0.0f, gl = 1.0f, gr = 1.0f;
    };

    // Mixer side: one look at the decoder's newest record (never a wait), what it says about the
    // generation being read, and, once the old material has faded out, the move to the newest
    // generation. Returns the record held.
    //
    // The write index is read before the record. So when the record still names the generation
    // being read, every frame below that index is this generation's: a later one's frames come
    // after its record, which the read would then have seen. When the record names the next
    // generation, its start is exactly where this one's frames end. When it names a later one,
    // the frames between belong to generations never heard, so the limit stays where it was.
    const Published& Sync(std::uint32_t* requestedOut = nullptr) {
        MixState& m = mix_;
        const std::uint64_t written = reader_.Written();
        const Published& p = snapshot_.Read();
        const std::uint32_t requested = requested_.load(std::memory_order_acquire);
        if (requestedOut) *requestedOut = requested;
        if (p.gen != m.gen) {
            if (p.gen == NextGen(m.gen)) m.limit = std::max(m.limit, p.start);
            if (m.gen != requested && m.fade <= 0.0f) {
                // m.readIdx <= m.limit <= p.start: the read position only moves forward.
                reader_.SkipTo(p.start);
                m.gen = p.gen;
                m.start = m.readIdx = m.limit = p.start;
                m.base = p.base;
                m.primed = false;
                m.ended = false;
            }
        }
        if (p.gen == m.gen) {
            m.end = p.end;
            m.limit = std::max(m.limit, written);
        }
        return p;
    }

    std::uint32_t NewGen() {
        gen_ = (gen_ + 1) & ((1u << kGenBits) - 1);
        if (gen_ == 0) gen_ = 1;
        requested_.store(gen_, std::memory_order_release);
        return gen_;
    }
    void Post(Command c) {
        {
            std::lock_guard lock(mutex_);
            commands_.push_back(std::move(c));
        }
        wake_.notify_one();
    }

    // Decoder thread. The frames below p.start (and p.end) are written before the record goes out.
    void Publish(const Published& p) {
        snapshot_.Back() = p;
        snapshot_.Publish();
    }

    void DecoderLoop() {
        std::vector<float> buffer(2 * kDecodeChunk);
        std::unique_ptr<AudioDecoder> decoder;
        Published pub;
        bool ended = true, filling = false;
        std::uint32_t notified = 0;
        std::unique_lock lock(mutex_);
        while (!quit_) {
            if (!commands_.empty()) {
                Command c = std::move(commands_.front());
                commands_.pop_front();
                lock.unlock();
                pub.gen = c.gen;
                pub.start = writer_.WriteIndex();
                pub.end = kNoEnd;
                pub.base = 0;
                if (c.kind == Command::kOpen) {
                    decoder = std::move(c.decoder);
                    ended = false;
                } else if (c.kind == Command::kSeek && decoder) {
                    ended = !decoder->Seek(c.seconds);
                    pub.base = static_cast<std::int64_t>(std::llround(c.seconds * rate_));
                } else {
                    decoder.reset();
                    ended = true;
                }
                if (ended) pub.end = pub.start;
                Publish(pub);
                c.decoder.reset();
                lock.lock();
                continue;
            }
            const std::uint32_t free = writer_.FreeFrames();
            filling = free >= kRefillFrames || (filling && free >= static_cast<std::uint32_t>(kDecodeChunk));
            if (!ended && decoder && filling) {
                const std::function<int(int, int)>* gate = decodeGate_ ? &decodeGate_ : nullptr;
                lock.unlock();
                const int want = gate ? std::clamp((*gate)(number_, kDecodeChunk), 0, kDecodeChunk) : kDecodeChunk;
                const int got = want > 0 ? decoder->Read(buffer.data(), want) : 0;
                if (got > 0) writer_.Write(buffer.data(), static_cast<std::uint32_t>(got));
                if (got < want) {  // a short read is the end of the stream
                    ended = true;
                    pub.end = writer_.WriteIndex();
                    Publish(pub);
                }
                lock.lock();
                continue;
            }
            const std::uint32_t e = endedGen_.load(std::memory_order_acquire);
            if (e != notified) {
                notified = e;
                lock.unlock();
                engine_.EventDue();
                lock.lock();
                continue;
            }
            wake_.wait_for(lock, kDecoderPoll);
        }
    }

    AudioEngine& engine_;
    const int rate_;
    const int number_;  // 1 or 2
    SpscRing ring_;
    SpscRing::Writer writer_{ring_.writer()};  // the decoder thread's side
    SpscRing::Reader reader_{ring_.reader()};  // the mixer's side

    // Interface thread.
    std::uint32_t gen_ = 0;       // newest generation asked for (an open, seek or close)
    std::uint32_t delivered_ = 0; // generation whose end was raised
    double duration_ = 0, seekTarget_ = 0;
    bool open_ = false, failed_ = false, failPending_ = false;
    int state_ = psStopped;

    // Shared with the mixer.
    std::atomic<std::uint32_t> requested_{0};
    std::atomic<bool> playing_{false};
    std::atomic<int> volume_{0}, balance_{0};
    std::atomic<std::uint64_t> heard_{0};
    std::atomic<std::uint32_t> endedGen_{0};
    SpscSnapshot<Published> snapshot_;  // written by the decoder thread, read by the mixer
    MixState mix_;                      // the mixer's own

    // Interface thread and decoder thread.
    std::function<int(int, int)> decodeGate_;  // tests only; set before the first file, under mutex_
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Command> commands_;
    bool quit_ = false;
    std::thread thread_;
};

namespace {
void SdlCallback(void* engine, Uint8* stream, int len) {
    static_cast<AudioEngine*>(engine)->Mix(reinterpret_cast<float*>(stream), len / static_cast<int>(2 * sizeof(float)));
}
}  // namespace

AudioEngine::AudioEngine(EngineOptions options)
    : options_(options), alive_(std::make_shared<std::atomic<bool>>(true)) {
    deck1_ = std::make_unique<DeckPlayer>(*this, options_.sampleRate, 1);
    deck2_ = std::make_unique<DeckPlayer>(*this, options_.sampleRate, 2);
    probe_ = std::make_unique<ProbePlayer>();
    if (options_.openDevice) OpenDevice();
    if (!device_) scratch_.resize(2 * static_cast<std::size_t>(std::max(options_.blockFrames, 1)));
}

AudioEngine::~AudioEngine() {
    if (device_) {
        SDL_CloseAudioDevice(device_);
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
    }
    alive_->store(false);
    {
        std::lock_guard lock(postMutex_);
        post_ = nullptr;
    }
    deck1_.reset();
    deck2_.reset();
}

void AudioEngine::OpenDevice() {
    SDL_AudioSpec want{};
    want.freq = options_.sampleRate;
    want.format = AUDIO_F32SYS;
    want.channels = 2;
    want.callback = SdlCallback;
    want.userdata = this;
    // The program handles its own termination signals (and saves its files); SDL would swallow them.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    auto open = [&]() -> bool {
        if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return false;
        // The dummy driver sleeps whole milliseconds per buffer, so its clock, and the decks'
        // positions with it, drift by several percent on small buffers; 2048 frames keep it
        // within a fraction of a percent of real time.
        const char* driver = SDL_GetCurrentAudioDriver();
        const bool dummy = driver && std::string(driver) == "dummy";
        want.samples = static_cast<Uint16>(dummy ? 2048 : options_.blockFrames);
        SDL_AudioSpec have{};
        device_ = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
        if (device_ == 0) {
            SDL_QuitSubSystem(SDL_INIT_AUDIO);
            return false;
        }
        const char* name = SDL_GetCurrentAudioDriver();
        driver_ = name ? name : "";
        return true;
    };
    if (!open()) {
        const std::string why = SDL_GetError();
        SDL_setenv("SDL_AUDIODRIVER", "dummy", 1);
        if (!open()) {
            std::fprintf(stderr, "Quendo: no sound output could be opened (%s)\n", SDL_GetError());
            return;
        }
        std::fprintf(stderr, "Quendo: no sound device could be opened (%s); playing silently in real time\n",
                     why.c_str());
    }
    SDL_PauseAudioDevice(device_, 0);
}

MediaPlayer& AudioEngine::Deck1() { return *deck1_; }
MediaPlayer& AudioEngine::Deck2() { return *deck2_; }
MediaPlayer& AudioEngine::Probe() { return *probe_; }

void AudioEngine::SetPostToUiThread(std::function<void(std::function<void()>)> post) {
    std::lock_guard lock(postMutex_);
    hasPost_.store(static_cast<bool>(post), std::memory_order_release);
    post_ = std::move(post);
}

void AudioEngine::EventDue() {
    std::lock_guard lock(postMutex_);
    if (!post_ || eventPosted_.exchange(true)) return;
    post_([alive = alive_, this] {
        if (alive->load()) DeliverPendingEvents();
    });
}

void AudioEngine::DeliverPendingEvents() {
    eventPosted_.store(false);
    deck1_->DeliverEnd();
    deck2_->DeliverEnd();
}

void AudioEngine::Mix(float* out, int frames) {
    void (*hook)(bool) = mixHook_.load(std::memory_order_relaxed);
    if (hook) hook(true);
    std::fill(out, out + 2 * frames, 0.0f);
    const bool short1 = deck1_->MixInto(out, frames);
    const bool short2 = deck2_->MixInto(out, frames);
    if (short1 || short2) underruns_.fetch_add(1, std::memory_order_relaxed);
    // Damaged frames can decode far above full scale, or to NaN; what a device does with those
    // is its own (wrapped, or a burst of noise), so they end here, clipped or silenced.
    for (float* p = out; p != out + 2 * frames; ++p) {
        const float v = *p;
        *p = v > 1.0f ? 1.0f : v < -1.0f ? -1.0f : v == v ? v : 0.0f;
    }
    if (hook) hook(false);
}

void AudioEngine::render(float* out, int frames) {
    if (device_) return;  // the device's callback owns the mixer
    const bool deliver = !hasPost_.load(std::memory_order_acquire);
    for (int done = 0; done < frames;) {
        const int n = std::min(options_.blockFrames, frames - done);
        // Offline, the mixer waits for the decoders rather than reporting an underrun.
        const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!(deck1_->ReadyFor(n) && deck2_->ReadyFor(n)) && std::chrono::steady_clock::now() < give_up) {
            deck1_->Wake();
            deck2_->Wake();
            std::this_thread::sleep_for(std::chrono::microseconds(50));
        }
        Mix(out ? out + 2 * static_cast<std::size_t>(done) : scratch_.data(), n);
        done += n;
        if (deliver) DeliverPendingEvents();
    }
}

AudioEngine::DeckRing AudioEngine::DeckRingForTest(int deck) const {
    return (deck == 2 ? deck2_ : deck1_)->RingForTest();
}

void AudioEngine::SetMixHookForTest(void (*hook)(bool entering)) { mixHook_.store(hook, std::memory_order_relaxed); }

void AudioEngine::SetDecodeGateForTest(std::function<int(int, int)> gate) {
    deck1_->SetDecodeGate(gate);
    deck2_->SetDecodeGate(std::move(gate));
}

std::vector<float> AudioEngine::render(int frames) {
    std::vector<float> out(2 * static_cast<std::size_t>(std::max(frames, 0)));
    render(out.data(), frames);
    return out;
}

}  // namespace quendo::audio
