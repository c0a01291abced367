#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "model/TrackFacts.h"

namespace quendo::audio {

// What says that a file is still the one analysed.
struct FileKey {
    std::int64_t size = 0;
    std::int64_t mtimeNs = 0;
    bool operator==(const FileKey&) const = default;
};
// The file's key (following links); nothing when it cannot be stat'ed or is no regular file.
std::optional<FileKey> KeyOf(const std::string& path);

struct CachedFacts {
    FileKey key;
    TrackFacts facts;
    std::int64_t used = 0;  // when the facts were last wanted, seconds since 1970
    int version = 0;        // of the analysis that made them
    bool checked = false;   // not in the file: the file was found as it was analysed, in this run
    bool tagsFailed = false;  // the tags could not be read: tried again in the next run
};
using FactsCache = std::unordered_map<std::string, CachedFacts>;

// The cache file: a header line, then one line per file:
//   SIZE MTIME_NS USED VERSION LUFS PEAK FIRST LAST AUDIBLE DECODED HEAD_LOW HEAD_MID HEAD_HIGH
//   TAIL_LOW TAIL_MID TAIL_HIGH BPM FIRST_BEAT PERIOD BAR_PHASE KEY TRACK DISC TAGS_FAILED BARS
//   [PHRASE_COUNT PHRASE... BASS_IN BASS_OUT FADE_OUT LEVELS]<TAB>PATH<TAB>ARTIST<TAB>TITLE<TAB>ALBUM
// (one line; the bracketed part only when BARS > 0, LEVELS one character per bar and band, '!' for
// 0 dB, each next one a dB lower, '~' for silence), with '\\', tab, CR and LF in the texts written as \\, \t, \r, \n. Numbers are
// locale-free.
std::string FormatFactsCache(const FactsCache& cache);
// Every line that is well formed and whose values are in bounds (also of the layout before BARS,
// whose entries have no form); the rest is dropped (all of it
// without the header). A beat grid whose tempo is no music's, or disagrees with its period, is
// dropped from its entry. `dropped` counts what was left out, so the caller knows to rewrite.
FactsCache ParseFactsCache(std::string_view text, int* dropped = nullptr);
// Drops the least recently used entries until at most `maxEntries` are left and their lines take
// at most `maxBytes`.
void BoundFactsCache(FactsCache& cache, std::size_t maxEntries, std::size_t maxBytes);

}  // namespace quendo::audio
