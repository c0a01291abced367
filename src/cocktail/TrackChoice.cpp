#include "cocktail/TrackChoice.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <iterator>
#include <optional>

namespace quendo {

namespace {
// A score is lexicographic: an artist not just heard outweighs any key and tempo, a key any tempo.
constexpr int kArtistApart = 9, kKeyStep = 3;
}  // namespace

bool KeysFit(int a, int b) {
    if (a < 0 || a > 23 || b < 0 || b > 23) return false;
    if (a == b) return true;
    const bool minorA = a >= 12, minorB = b >= 12;
    if (minorA == minorB) {
        const int up = (b - a + 24) % 12;
        return up == 7 || up == 5;
    }
    // A relative minor's tonic lies a minor third below its major's.
    const int major = (minorA ? b : a) % 12, minor = (minorA ? a : b) % 12;
    return (major + 9) % 12 == minor;
}

bool TemposFit(double bpmA, double bpmB) {
    if (!(bpmA > 0 && bpmB > 0) || !std::isfinite(bpmA) || !std::isfinite(bpmB)) return false;
    const double r = bpmB / bpmA;
    return std::abs(r - 1) <= kTempoTolerance || std::abs(r * 0.5 - 1) <= kTempoTolerance ||
           std::abs(r * 2 - 1) <= kTempoTolerance;
}

TrackChoice::TrackChoice(const NodeTable& nodes, TrackAnalysis& analysis, Random& random)
    : nodes_(nodes), analysis_(analysis), random_(random) {}

void TrackChoice::StartGeneration(bool artistsApart, bool byKey) {
    artistsApart_ = artistsApart;
    byKey_ = byKey;
    for (std::int32_t f : notKnown_) traits_[static_cast<std::size_t>(f)].state = Traits::kNotAsked;
    notKnown_.clear();
    std::fill(std::begin(many_), std::end(many_), -1);
}

void TrackChoice::Forget() {
    traits_.clear();
    notKnown_.clear();
    std::fill(std::begin(many_), std::end(many_), -1);
}

TrackChoice::Traits TrackChoice::Of(std::int32_t file) {
    const auto at = static_cast<std::size_t>(file);
    if (at >= traits_.size()) traits_.resize(std::max<std::size_t>(at + 1, static_cast<std::size_t>(nodes_.FileCount())));
    Traits& t = traits_[at];
    if (t.state != Traits::kNotAsked) return t;
    const std::optional<TrackFacts> facts = analysis_.Facts(nodes_.FullPath(file));
    t = Traits{facts ? Traits::kKnown : Traits::kNotKnown, -1 - nodes_.File(file).parentFolder, kNoKey, 0};
    if (!facts) notKnown_.push_back(file);
    if (facts) {
        t.key = facts->key >= 0 && facts->key < 24 ? facts->key : kNoKey;
        t.bpm = facts->beats.Steady() ? facts->beats.bpm : 0;
        std::string name = facts->tags.artist;
        // Tags differ in case more often than in name.
        for (char& c : name)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (!name.empty()) {
            const auto id = artistIds_.find(name);
            t.artist = id != artistIds_.end() ? id->second
                                              : artistIds_.emplace(std::move(name), static_cast<int>(artistIds_.size())).first->second;
        }
    }
    return t;
}

bool TrackChoice::Heard(int artist) const {
    return std::find(heardArtists_.begin(), heardArtists_.end(), artist) != heardArtists_.end();
}

void TrackChoice::Heard(const std::vector<std::int32_t>& nearestFirst) {
    heardArtists_.clear();
    prevKey_ = kNoKey;
    prevBpm_ = 0;
    for (std::size_t i = 0; i < nearestFirst.size() && heardArtists_.size() < static_cast<std::size_t>(kArtistsHeard); ++i) {
        if (!nodes_.IsFile(nearestFirst[i])) continue;
        const Traits t = Of(nearestFirst[i]);
        if (i == 0) prevKey_ = t.key, prevBpm_ = t.bpm;
        heardArtists_.push_back(t.artist);
    }
    // Bit k: key k fits key i.
    static const std::array<std::uint32_t, 24> kFitting = [] {
        std::array<std::uint32_t, 24> masks{};
        for (int i = 0; i < 24; ++i)
            for (int k = 0; k < 24; ++k) masks[static_cast<std::size_t>(i)] |= static_cast<std::uint32_t>(KeysFit(i, k)) << k;
        return masks;
    }();
    fittingKeys_ = prevKey_ != kNoKey ? kFitting[static_cast<std::size_t>(prevKey_)] : 0;
    // Against a track of unknown key or tempo every candidate is as good: unknown is the best there is.
    best_ = kArtistApart;
    if (byKey_) best_ += kKeyStep * (prevKey_ != kNoKey ? 2 : 1) + (prevBpm_ > 0 ? 2 : 1);
}

// For the key and for the tempo, a fit (2) beats not known (1) beats a clash (0).
int TrackChoice::Score(std::int32_t file) {
    const Traits t = Of(file);
    int score = 0;
    if (!apartNow_ || !Heard(t.artist)) score = kArtistApart;
    if (byKey_) {
        score += kKeyStep * (prevKey_ == kNoKey || t.key == kNoKey ? 1 : fittingKeys_ >> t.key & 1 ? 2 : 0);
        score += prevBpm_ <= 0 || t.bpm <= 0 ? 1 : TemposFit(prevBpm_, t.bpm) ? 2 : 0;
    }
    return score;
}

bool TrackChoice::ManyArtists(std::size_t k, const std::vector<std::int32_t>& list) {
    if (many_[k] < 0) {
        many_[k] = 0;
        for (std::int32_t f : list)
            if (nodes_.IsFile(f) && Of(f).artist != Of(list.front()).artist) many_[k] = 1;
    }
    return many_[k] == 1;
}

std::int32_t TrackChoice::BestOf(const std::vector<std::int32_t>& pool, std::int32_t first, int firstScore) {
    std::int32_t best = first;
    int bestScore = firstScore;
    // Positions of files drawn already do not count as candidates, up to a bound: late in a
    // generation most may be drawn.
    for (int weighed = 1, tries = 1; weighed < kCandidates && tries < 2 * kCandidates && bestScore < best_; ++tries) {
        const std::int32_t c = pool[static_cast<std::size_t>(random_.Below(static_cast<std::int32_t>(pool.size())))];
        if (!Drawable(c)) continue;
        ++weighed;
        const int s = Score(c);
        if (s > bestScore) best = c, bestScore = s;
    }
    return best;
}

std::int32_t TrackChoice::Choose(std::size_t k, const std::vector<std::int32_t>& list, std::int32_t first) {
    // A folder of one artist (or of untagged files, which count as one) has no other to offer.
    apartNow_ = artistsApart_ && k < 3 && ManyArtists(k, list);
    const int firstScore = Score(first);
    if (firstScore >= best_) return first;
    std::int32_t pick = BestOf(list, first, firstScore);
    if (apartNow_ && Score(pick) < kArtistApart) {
        // Every candidate was by an artist just heard; the folder may still hold another.
        pool_.clear();
        for (std::int32_t f : list)
            if (Drawable(f) && !Heard(Of(f).artist)) pool_.push_back(f);
        if (!pool_.empty()) {
            const std::int32_t other = pool_[static_cast<std::size_t>(random_.Below(static_cast<std::int32_t>(pool_.size())))];
            pick = BestOf(pool_, other, Score(other));
        }
    }
    return pick;
}

std::int32_t TrackChoice::Across(const std::array<std::vector<std::int32_t>, 3>& lists,
                                 const std::array<int, 3>& parts, std::int32_t chosen) {
    if (!artistsApart_ || heardArtists_.empty() || !nodes_.IsFile(chosen)) return chosen;
    // A file not known yet stands for its folder, which here may be an album: the draw stays.
    const Traits t = Of(chosen);
    const int artist = t.artist;
    if (t.state != Traits::kKnown || !Heard(artist)) return chosen;
    apartNow_ = true;
    const std::int32_t apart = FindAcross(lists, parts, [this](int a) { return !Heard(a); });
    if (apart >= 0) return apart;
    // A cocktail of fewer artists than the tracks remembered: at least not the same one twice.
    const int before = heardArtists_.front();
    if (artist != before) return chosen;
    const std::int32_t other = FindAcross(lists, parts, [before](int a) { return a != before; });
    return other >= 0 ? other : chosen;
}

template <class Fits>
std::int32_t TrackChoice::FindAcross(const std::array<std::vector<std::int32_t>, 3>& lists,
                                     const std::array<int, 3>& parts, Fits fits) {
    std::array<int, 3> p{};
    for (std::size_t k = 0; k < 3; ++k) p[k] = lists[k].empty() ? 0 : std::max(parts[k], 0);
    int total = p[0] + p[1] + p[2];
    if (total == 0) return -1;
    const auto ingredient = [&p](int e) -> std::size_t { return e < p[0] ? 0 : e < p[0] + p[1] ? 1 : 2; };

    // Draws as the cocktail makes them, a few: the one that fits and scores best.
    std::int32_t best = -1;
    int bestScore = -1;
    for (int tries = 0, weighed = 0; tries < 2 * kCandidates && weighed < kCandidates && bestScore < best_; ++tries) {
        const std::vector<std::int32_t>& list = lists[ingredient(random_.Below(total))];
        const std::int32_t c = list[static_cast<std::size_t>(random_.Below(static_cast<std::int32_t>(list.size())))];
        if (!Drawable(c) || !fits(Of(c).artist)) continue;
        ++weighed;
        const int s = Score(c);
        if (s > bestScore) best = c, bestScore = s;
    }
    if (best >= 0) return best;

    // None drawn fits; the lists may still hold a few that do. An ingredient that holds one is
    // taken in proportion to its parts, then one of its files that fit.
    std::array<std::int32_t, 3> fitting{};
    for (std::size_t k = 0; k < 3; ++k)
        if (p[k] != 0)
            for (std::int32_t f : lists[k]) fitting[k] += Drawable(f) && fits(Of(f).artist);
    for (std::size_t k = 0; k < 3; ++k)
        if (fitting[k] == 0) p[k] = 0;
    total = p[0] + p[1] + p[2];
    if (total == 0) return -1;
    const std::size_t k = ingredient(random_.Below(total));
    std::int32_t n = random_.Below(fitting[k]);
    for (std::int32_t f : lists[k])
        if (Drawable(f) && fits(Of(f).artist) && n-- == 0) return f;
    return -1;
}

}  // namespace quendo
