#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

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
//   [PHRASE_COUNT PHRASE... BASS_IN BASS_OUT FADE_OUT LEVELS] OUTLINE_POINT_US [OUTLINE]
//   <TAB>PATH<TAB>ARTIST<TAB>TITLE<TAB>ALBUM
// (one line; the first bracketed part only when BARS > 0, LEVELS one character per bar and band,
// '!' for 0 dB, each next one a dB lower, '~' for silence; the second only when OUTLINE_POINT_US > 0,
// one character per point and band, '?' for silence, up to TrackWave::kTop above it), with '\\', tab, CR and LF in the texts written as \\, \t, \r, \n. Numbers are
// locale-free.
std::string FormatFactsCache(const FactsCache& cache);
// Every line that is well formed and whose values are in bounds (also of the layout before BARS,
// whose entries have no form); the rest is dropped (all of it
// without the header). A beat grid whose tempo is no music's, or disagrees with its period, is
// dropped from its entry. `dropped` counts what was left out, so the caller knows to rewrite.
FactsCache ParseFactsCache(std::string_view text, int* dropped = nullptr);
// The bytes an entry's outline takes, in memory or in the file.
std::size_t OutlineBytes(const TrackFacts& facts);
// Lets go of the least recently used entries' outlines, keeping their facts, until the outlines
// take at most `maxBytes`; returns what they take then.
std::size_t BoundOutlines(FactsCache& cache, std::size_t maxBytes);
// The entries whose outlines BoundOutlines would let go, without touching them; `kept` (if given)
// is what the others take.
std::vector<std::string> OutlinesPast(FactsCache& cache, std::size_t maxBytes, std::size_t* kept = nullptr);
// Keeps the outlines within `maxOutlineBytes`, then drops the least recently used entries until at
// most `maxEntries` are left and their lines take at most `maxBytes`.
void BoundFactsCache(FactsCache& cache, std::size_t maxEntries, std::size_t maxBytes,
                     std::size_t maxOutlineBytes = SIZE_MAX);

}  // namespace quendo::audio
