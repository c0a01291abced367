#pragma once
// Five-minute music files for the benchmarks, made once by the demo library tool in
// /tmp/quendo-bench-fixtures.
#include <sys/stat.h>

#include <cstdio>
#include <string>

#include "support/Audio.h"

namespace bench {

struct Fixture {
    const char* file;
    const char* kind;  // the tool's fixture kind
    const char* seed;
};
inline const Fixture kMp3{"music.mp3", "mp3-cbr", "1"};
inline const Fixture kMp3B{"music-b.mp3", "mp3-cbr", "6"};
inline const Fixture kVbr{"vbr-noheader.mp3", "mp3-vbr-noheader", "2"};
inline const Fixture kWma{"music.wma", "wma", "3"};
inline const Fixture kWav{"music.wav", "wav-s16", "4"};

inline const std::string kFixtureDir = "/tmp/quendo-bench-fixtures";
constexpr double kFixtureSeconds = 300;

inline bool Exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && st.st_size > 0;
}

// The fixture's path, made on first use; "" when the tool failed.
inline std::string Make(const Fixture& f) {
    const std::string path = kFixtureDir + "/" + f.file;
    if (Exists(path)) return path;
    ::mkdir(kFixtureDir.c_str(), 0755);
    const std::string part = path + ".part";
    const bool made = quendo::testing::MakeFixture(f.kind, kFixtureSeconds, part, std::string("--seed ") + f.seed).frames > 0;
    if (!made || std::rename(part.c_str(), path.c_str()) != 0) {
        std::fprintf(stderr, "bench: could not make %s\n", path.c_str());
        return "";
    }
    return path;
}

}  // namespace bench
