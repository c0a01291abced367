// quendo-demolib: the demo music library and the audio fixtures of the tests and benchmarks,
// synthesized and encoded here so that nothing is downloaded.
//
//   quendo-demolib DIR
//   quendo-demolib --fixture KIND SECONDS OUTFILE [--rate HZ] [--channels 1|2] [--tone HZ]
//                  [--level DB] [--seed N] [--kbps N] [--no-xing 1] [--streamed 1]
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "Encode.h"
#include "Synth.h"

namespace fs = std::filesystem;
using namespace demolib;

namespace {

// Twelve grooves, one per demo track; fixtures pick one by seed.
const Style kStyles[] = {
    {Genre::House, 124, 45, true, {0, 5, 3, 4}, PadSound::Saw, LeadSound::Square, BassSound::Acid, 0.0, 0.5},
    {Genre::House, 122, 50, false, {0, 4, 5, 3}, PadSound::Organ, LeadSound::Bell, BassSound::Sub, 0.08, 0.4},
    {Genre::House, 126, 43, true, {0, 6, 5, 6}, PadSound::Saw, LeadSound::Saw, BassSound::Sub, 0.0, 0.6},
    {Genre::House, 120, 48, false, {0, 3, 4, 4}, PadSound::EPiano, LeadSound::Soft, BassSound::Acid, 0.1, 0.35},
    {Genre::Lounge, 92, 53, false, {1, 4, 0, 5}, PadSound::EPiano, LeadSound::Bell, BassSound::Sub, 0.22, 0.45},
    {Genre::Lounge, 84, 46, true, {0, 3, 6, 2}, PadSound::EPiano, LeadSound::Soft, BassSound::Pluck, 0.25, 0.3},
    {Genre::Lounge, 98, 51, false, {0, 5, 1, 4}, PadSound::Organ, LeadSound::Soft, BassSound::Sub, 0.18, 0.5},
    {Genre::Lounge, 88, 44, true, {0, 5, 3, 4}, PadSound::Saw, LeadSound::Bell, BassSound::Pluck, 0.2, 0.4},
    {Genre::Rock, 132, 40, false, {0, 4, 5, 3}, PadSound::Guitar, LeadSound::Saw, BassSound::Pluck, 0.0, 0.55},
    {Genre::Rock, 116, 45, true, {0, 6, 5, 4}, PadSound::Guitar, LeadSound::Square, BassSound::Acid, 0.0, 0.45},
    {Genre::Rock, 140, 42, false, {0, 3, 4, 0}, PadSound::Guitar, LeadSound::Square, BassSound::Pluck, 0.0, 0.6},
    {Genre::Rock, 108, 47, true, {0, 2, 5, 4}, PadSound::Organ, LeadSound::Saw, BassSound::Pluck, 0.05, 0.5},
};
constexpr int kStyleCount = sizeof kStyles / sizeof kStyles[0];

struct Track {
    const char* folder;
    const char* title;
    Codec codec;
    int seconds;
    int style;
};

// The last entry is renamed into place last: the build takes its presence as "library complete".
const Track kTracks[] = {
    {"House", "Midnight Avenue", Codec::Mp3Cbr, 62, 0},
    {"House", "Neon Steps", Codec::Wma, 48, 1},
    {"House", "Warehouse Sunrise", Codec::Mp3Vbr, 75, 2},
    {"House", "Deep Current", Codec::PcmS16, 36, 3},
    {"Lounge", "Velvet Hour", Codec::Mp3Vbr, 58, 4},
    {"Lounge", "Terrace at Dusk", Codec::Wma, 66, 5},
    {"Lounge", "Slow Tide", Codec::PcmS16, 32, 6},
    {"Lounge", "Copper Moon", Codec::Mp3Cbr, 44, 7},
    {"Rock", "Highway Static", Codec::Mp3Cbr, 52, 8},
    {"Rock", "Broken Compass", Codec::PcmS16, 30, 9},
    {"Rock", "Iron Summer", Codec::Mp3Vbr, 40, 10},
    {"Rock", "Last Call", Codec::Wma, 88, 11},
};

const char* Extension(Codec c) {
    switch (c) {
        case Codec::Mp3Cbr:
        case Codec::Mp3Vbr: return ".mp3";
        case Codec::Wma:
        case Codec::Wma1: return ".wma";
        case Codec::Vorbis: return ".ogg";
        case Codec::Flac: return ".flac";
        default: return ".wav";
    }
}

int Usage() {
    std::fprintf(stderr,
                 "usage: quendo-demolib DIR\n"
                 "       quendo-demolib --fixture KIND SECONDS OUTFILE [--rate HZ] [--channels 1|2]\n"
                 "                      [--tone HZ] [--level DB] [--seed N] [--kbps N] [--no-xing 1]\n"
                 "                      [--streamed 1]\n"
                 "kinds: mp3-cbr mp3-vbr mp3-vbr-noheader mp3-id3pic wma wma1 ogg-vorbis flac wav-u8\n"
                 "       wav-s16 wav-s24 wav-f32\n"
                 "Content is music unless --tone is given; mp3-vbr-noheader defaults to silence, then\n"
                 "dense noise. --no-xing leaves out an MP3's Xing/Info frame; --streamed writes as to a\n"
                 "pipe, so that the header has no length (WMA) or no frame count (MP3). The format is\n"
                 "the kind's whatever OUTFILE's name. Prints the number of sample frames written and\n"
                 "the rate.\n");
    return 2;
}

int Library(const fs::path& dir) {
    const int count = static_cast<int>(sizeof kTracks / sizeof kTracks[0]);
    std::vector<fs::path> partial(count), final(count);
    std::vector<std::string> errors(count);
    std::error_code ec;
    for (int i = 0; i < count; ++i) {
        fs::create_directories(dir / kTracks[i].folder, ec);
        final[i] = dir / kTracks[i].folder / (std::string(kTracks[i].title) + Extension(kTracks[i].codec));
        partial[i] = final[i];
        partial[i] += ".part";
    }
    // Longest first, so that the workers finish together.
    std::vector<int> order(count);
    for (int i = 0; i < count; ++i) order[i] = i;
    std::sort(order.begin(), order.end(), [](int a, int b) { return kTracks[a].seconds > kTracks[b].seconds; });
    std::atomic<int> next{0};
    auto worker = [&] {
        for (int k; (k = next.fetch_add(1)) < count;) {
            const Track& t = kTracks[order[k]];
            const int rate = 44100;
            EncodeOptions opts;
            opts.codec = t.codec;
            opts.rate = rate;
            opts.kbps = t.codec == Codec::Wma ? 128 : 192;
            opts.vbrQuality = 4;
            opts.title = t.title;
            opts.artist = "Quendo Demo Band";
            opts.album = std::string("Demo ") + t.folder;
            opts.genre = t.folder;
            opts.coverPicture = order[k] == 0;
            const auto pcm = RenderMusic(kStyles[t.style], t.seconds, rate, 1000 + order[k]);
            std::string error;
            // The ".part" name would make the muxer guess; the format is named explicitly.
            if (!Encode(partial[order[k]].string(), opts, pcm, error)) errors[order[k]] = error;
        }
    };
    const unsigned threads = std::clamp(std::thread::hardware_concurrency(), 1u, 4u);
    std::vector<std::thread> pool;
    for (unsigned i = 0; i < threads; ++i) pool.emplace_back(worker);
    for (auto& th : pool) th.join();
    int failed = 0;
    for (int i = 0; i < count; ++i) {
        if (!errors[i].empty()) {
            std::fprintf(stderr, "quendo-demolib: %s: %s\n", final[i].c_str(), errors[i].c_str());
            fs::remove(partial[i], ec);
            ++failed;
            continue;
        }
        fs::rename(partial[i], final[i], ec);
        if (ec) {
            std::fprintf(stderr, "quendo-demolib: %s: %s\n", final[i].c_str(), ec.message().c_str());
            ++failed;
        }
    }
    return failed ? 1 : 0;
}

int Fixture(int argc, char** argv) {
    if (argc < 5) return Usage();
    const std::string kind = argv[2];
    const double seconds = std::atof(argv[3]);
    const std::string out = argv[4];
    int rate = 44100, channels = 2, kbps = 0;
    bool noXing = false, streamed = false;
    double toneHz = 0, levelDb = -6;
    unsigned seed = 1;
    for (int i = 5; i < argc; ++i) {
        const std::string opt = argv[i];
        if (i + 1 >= argc) return Usage();
        const char* v = argv[++i];
        if (opt == "--rate") rate = std::atoi(v);
        else if (opt == "--channels") channels = std::atoi(v);
        else if (opt == "--tone") toneHz = std::atof(v);
        else if (opt == "--level") levelDb = std::atof(v);
        else if (opt == "--seed") seed = static_cast<unsigned>(std::strtoul(v, nullptr, 10));
        else if (opt == "--kbps") kbps = std::atoi(v);
        else if (opt == "--no-xing") noXing = std::atoi(v) != 0;
        else if (opt == "--streamed") streamed = std::atoi(v) != 0;
        else return Usage();
    }
    if (seconds <= 0 || rate < 8000 || rate > 192000 || (channels != 1 && channels != 2)) return Usage();

    EncodeOptions opts;
    opts.rate = rate;
    opts.channels = channels;
    opts.title = "Fixture " + kind;
    if (kind == "mp3-cbr") opts.codec = Codec::Mp3Cbr;
    else if (kind == "mp3-vbr") opts.codec = Codec::Mp3Vbr;
    else if (kind == "mp3-vbr-noheader") {
        opts.codec = Codec::Mp3Vbr;
        opts.xingHeader = false;
        opts.vbrQuality = 0;
    } else if (kind == "mp3-id3pic") {
        opts.codec = Codec::Mp3Cbr;
        opts.coverPicture = true;
    } else if (kind == "wma" || kind == "wma1") {
        opts.codec = kind == "wma" ? Codec::Wma : Codec::Wma1;
        opts.kbps = 128;
    } else if (kind == "ogg-vorbis") opts.codec = Codec::Vorbis;
    else if (kind == "flac") opts.codec = Codec::Flac; else if (kind == "wav-u8") opts.codec = Codec::PcmU8;
    else if (kind == "wav-s16") opts.codec = Codec::PcmS16;
    else if (kind == "wav-s24") opts.codec = Codec::PcmS24;
    else if (kind == "wav-f32") opts.codec = Codec::PcmF32;
    else return Usage();
    if (kbps > 0) opts.kbps = kbps;
    if (noXing) opts.xingHeader = false;
    opts.streamed = streamed;

    std::vector<float> stereo;
    if (toneHz > 0) stereo = RenderTone(toneHz, levelDb, seconds, rate);
    else if (kind == "mp3-vbr-noheader") stereo = RenderSilenceThenDense(seconds, rate, seed);
    else stereo = RenderMusic(kStyles[seed % kStyleCount], seconds, rate, seed);
    const std::vector<float> pcm = ToChannels(stereo, channels);
    std::string error;
    if (!Encode(out, opts, pcm, error)) {
        std::fprintf(stderr, "quendo-demolib: %s: %s\n", out.c_str(), error.c_str());
        return 1;
    }
    std::printf("%zu %d\n", pcm.size() / channels, rate);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "--fixture") == 0) return Fixture(argc, argv);
    if (argc != 2 || argv[1][0] == '-') return Usage();
    return Library(argv[1]);
}
