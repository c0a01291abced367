#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "model/NodeTable.h"
#include "model/Platform.h"
#include "model/TrackFacts.h"

namespace quendo {

// Keys on the circle of fifths that mix without a clash: the same key, its relative major or
// minor, or a fifth up or down in the same mode. kNoKey fits nothing.
bool KeysFit(int a, int b);
// Tempi within kTempoTolerance of each other, one of them doubled or halved if that is closer.
// A beatless track (0) fits nothing.
constexpr double kTempoTolerance = 0.06;
bool TemposFit(double bpmA, double bpmB);

// Which file of the ingredient its draw picked goes into the playlist: up to kCandidates files of
// that ingredient not drawn yet are weighed, and the first that passes every rule wins, else the
// best of them, else the first. The rules: an artist heard in the last kArtistsHeard tracks is
// avoided while the folder holds another artist not yet drawn; with the key switch, a key and a
// tempo that fit the track before are preferred. Files whose facts are not known yet count as
// unknown: by their folder as artist, with no key and no tempo.
// Interface thread. The analysis is asked, never waited for; what it knew is kept for the
// generations after, what it did not is asked again at the next.
class TrackChoice {
public:
    static constexpr int kCandidates = 12;
    static constexpr int kArtistsHeard = 5;

    TrackChoice(const NodeTable& nodes, TrackAnalysis& analysis, Random& random);

    // Before each generation, with the switches as they are now.
    void StartGeneration(bool artistsApart, bool byKey);
    // Forgets every file's facts: the files may be others now.
    void Forget();
    // The files before the place being filled, the nearest first; before each choice.
    void Heard(const std::vector<std::int32_t>& nearestFirst);
    // `first` (not drawn yet) was drawn from `list`, the files of ingredient `k`: the file to add
    // instead, or `first`. Draws further positions of `list` only when `first` breaks a rule.
    std::int32_t Choose(std::size_t k, const std::vector<std::int32_t>& list, std::int32_t first);
    // With the artist rule, after Choose, for ingredients whose folders may hold many artists each
    // in its own subfolder: `chosen` if its artist is not known or was not heard, else a file of
    // all three ingredients' (of an artist not heard, else of one other than the track before's),
    // the ingredient taken in proportion to its parts as a draw takes it; `chosen` when none has one.
    std::int32_t Across(const std::array<std::vector<std::int32_t>, 3>& lists, const std::array<int, 3>& parts,
                        std::int32_t chosen);

private:
    struct Traits {
        enum : std::uint8_t { kNotAsked, kNotKnown, kKnown } state = kNotAsked;
        int artist = 0;  // >= 0 a tagged artist; < 0 the file's folder, standing for its artist
        int key = kNoKey;
        double bpm = 0;  // 0: beatless or not known
    };
    Traits Of(std::int32_t file);  // a copy: asking may grow the table
    int Score(std::int32_t file);
    std::int32_t BestOf(const std::vector<std::int32_t>& pool, std::int32_t first, int firstScore);
    bool Drawable(std::int32_t file) const { return nodes_.IsFile(file) && !nodes_.File(file).drawn; }
    bool Heard(int artist) const;
    bool ManyArtists(std::size_t k, const std::vector<std::int32_t>& list);
    template <class Fits>
    std::int32_t FindAcross(const std::array<std::vector<std::int32_t>, 3>& lists, const std::array<int, 3>& parts,
                            Fits fits);

    const NodeTable& nodes_;
    TrackAnalysis& analysis_;
    Random& random_;
    bool artistsApart_ = false, byKey_ = false;
    std::vector<Traits> traits_;           // by file index, grown as files are asked for
    std::vector<std::int32_t> notKnown_;   // files the analysis had no answer for, this generation
    std::unordered_map<std::string, int> artistIds_;
    std::vector<int> heardArtists_;
    int prevKey_ = kNoKey;
    std::uint32_t fittingKeys_ = 0;  // bit k: key k fits the track before
    double prevBpm_ = 0;
    int best_ = 0;           // the score that passes every rule, after the track before
    bool apartNow_ = false;  // the artist rule holds for the ingredient being chosen from
    signed char many_[3] = {-1, -1, -1};  // per ingredient: more than one artist (-1: not known yet)
    std::vector<std::int32_t> pool_;
};

}  // namespace quendo
