#include "analysis/FactsCache.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <vector>

namespace quendo::audio {

namespace {

constexpr std::string_view kHeader = "quendo-track-facts 7";
// The layouts before the outline and before the form: read still, their entries without them.
constexpr std::string_view kHeaderBeforeOutline = "quendo-track-facts 6";
constexpr std::string_view kHeaderBeforeForm = "quendo-track-facts 5";
enum class Layout { kBeforeForm, kBeforeOutline, kNow };
// Bounds of what an analysis can give; a value outside them was not written by one.
constexpr double kMaxSeconds = 1e6;
constexpr double kMaxBpm = 1000;
constexpr double kMinSaneBpm = 30, kMaxSaneBpm = 300;  // of a steady beat's grid
constexpr double kMaxEdgeDb = 20;  // a band's split may overshoot full scale a little
constexpr int kMaxNumber = 1000000;  // of a track or a disc
constexpr int kMaxBars = 100000;
// A bar's band levels are kept to the whole dB, one character each from '!' (0 dB) down to '}'
// (-92 dB); '~' stands for anything quieter. A track's form then takes about a kilobyte.
constexpr char kLevel0 = '!', kLevelSilent = '~';
constexpr int kLowestLevelDb = kLevelSilent - kLevel0 - 1;

char LevelChar(float db) {
    const long below = std::lround(-static_cast<double>(db));
    return static_cast<char>(kLevel0 + std::clamp(below, 0L, static_cast<long>(kLowestLevelDb) + 1));
}
float LevelDb(char c) { return c == kLevelSilent ? TrackForm::kSilentDb : -static_cast<float>(c - kLevel0); }
// An outline's points, one character each from '?' (silence) up, point by point, its bands in turn.
constexpr char kOutline0 = '?';
static_assert(kOutline0 + TrackWave::kTop <= '~');
constexpr int kMaxOutlinePointUs = 1000000;

void Escape(std::string& out, std::string_view text) {
    for (char c : text) {
        switch (c) {
            case '\\': out += "\\\\"; break;
            case '\t': out += "\\t"; break;
            case '\r': out += "\\r"; break;
            case '\n': out += "\\n"; break;
            default: out += c;
        }
    }
}

std::optional<std::string> Unescape(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '\t' || c == '\r') return std::nullopt;
        if (c == '\\') {
            if (++i == text.size()) return std::nullopt;
            switch (text[i]) {
                case '\\': c = '\\'; break;
                case 't': c = '\t'; break;
                case 'r': c = '\r'; break;
                case 'n': c = '\n'; break;
                default: return std::nullopt;
            }
        }
        out += c;
    }
    return out;
}

template <class T>
void Append(std::string& out, T value) {
    char buf[64];
    const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
    if (ec == std::errc()) out.append(buf, end);
    out += ' ';
}

// The next space-separated field of `line` as a T, whole; nothing when it is not one.
template <class T>
std::optional<T> Take(std::string_view& line) {
    const std::size_t space = line.find(' ');
    if (space == std::string_view::npos) return std::nullopt;
    const std::string_view field = line.substr(0, space);
    line.remove_prefix(space + 1);
    T value{};
    const auto [end, ec] = std::from_chars(field.data(), field.data() + field.size(), value);
    if (ec != std::errc() || end != field.data() + field.size() || field.empty()) return std::nullopt;
    if constexpr (std::is_floating_point_v<T>) {
        if (!std::isfinite(value)) return std::nullopt;
    }
    return value;
}

template <class T>
bool Within(std::optional<T> v, T lo, T hi) {
    return v && *v >= lo && *v <= hi;
}

void FormatLine(std::string& out, const std::string& path, const CachedFacts& c) {
    const TrackFacts& f = c.facts;
    Append(out, c.key.size);
    Append(out, c.key.mtimeNs);
    Append(out, c.used);
    Append(out, c.version);
    Append(out, f.integratedLufs);
    Append(out, f.peakDbfs);
    Append(out, f.firstSound);
    Append(out, f.lastSound);
    Append(out, f.audible ? 1 : 0);
    Append(out, f.decodedSeconds);
    for (const TrackFacts::Edge* edge : {&f.headEdge, &f.tailEdge})
        for (double db : edge->rmsDb) Append(out, db);
    Append(out, f.beats.bpm);
    Append(out, f.beats.firstBeat);
    Append(out, f.beats.period);
    Append(out, f.beats.barPhase);
    Append(out, f.key);
    Append(out, f.tags.trackNumber);
    Append(out, f.tags.discNumber);
    Append(out, c.tagsFailed ? 1 : 0);
    const TrackForm& form = f.form;
    Append(out, form.Known() ? form.bars : 0);
    if (form.Known()) {
        Append(out, form.phrases.size());
        for (int p : form.phrases) Append(out, p);
        Append(out, form.bassIn);
        Append(out, form.bassOut);
        Append(out, form.fadeOut);
        for (const auto& bar : form.levels)
            for (float db : bar) out += LevelChar(db);
        out += ' ';
    }
    if (const TrackWave* wave = f.wave.get(); wave && wave->Known()) {
        Append(out, std::lround(wave->pointSeconds * 1e6));
        const std::size_t points = wave->points[0].size();
        for (std::size_t i = 0; i < points; ++i)
            for (const auto& band : wave->points) out += static_cast<char>(kOutline0 + std::min<int>(band[i], TrackWave::kTop));
        out += ' ';
    } else {
        Append(out, 0);
    }
    out.back() = '\t';  // the numbers end at the texts
    Escape(out, path);
    for (const std::string* text : {&f.tags.artist, &f.tags.title, &f.tags.album}) {
        out += '\t';
        Escape(out, *text);
    }
    out += '\n';
}

// A tempo an analysis gives, and a period that agrees with it: the mix's plans count beats by
// dividing by the period, and a tiny one overflows them.
bool SaneGrid(const BeatGrid& g) {
    return g.bpm >= kMinSaneBpm && g.bpm <= kMaxSaneBpm && std::fabs(g.period - 60 / g.bpm) <= 1e-6 * g.period;
}

// The form's fields at the end of the numbers; false when they are not one an analysis gives.
bool ParseForm(std::string_view& fields, TrackForm* form) {
    const auto bars = Take<int>(fields);
    if (!Within(bars, 0, kMaxBars)) return false;
    if (*bars == 0) return true;
    const auto count = Take<int>(fields);
    if (!Within(count, 1, *bars)) return false;
    TrackForm f;
    f.bars = *bars;
    for (int i = 0; i < *count; ++i) {
        const auto p = Take<int>(fields);
        if (!Within(p, f.phrases.empty() ? 0 : f.phrases.back() + 1, f.phrases.empty() ? 0 : *bars - 1)) return false;
        f.phrases.push_back(*p);
    }
    const auto bassIn = Take<int>(fields), bassOut = Take<int>(fields), fadeOut = Take<int>(fields);
    if (!Within(bassIn, -1, *bars - 1) || !Within(bassOut, -1, *bars) || (*bassIn < 0) != (*bassOut < 0) ||
        (*bassIn >= 0 && *bassOut <= *bassIn) || !Within(fadeOut, -1, *bars - 1))
        return false;
    const std::size_t space = fields.find(' ');
    const std::size_t length = static_cast<std::size_t>(*bars) * TrackForm::kBands;
    if (space != length) return false;
    f.levels.resize(static_cast<std::size_t>(*bars));
    for (std::size_t i = 0; i < length; ++i) {
        const char c = fields[i];
        if (c < kLevel0 || c > kLevelSilent) return false;
        f.levels[i / TrackForm::kBands][i % TrackForm::kBands] = LevelDb(c);
    }
    fields.remove_prefix(length + 1);
    f.bassIn = *bassIn, f.bassOut = *bassOut, f.fadeOut = *fadeOut;
    *form = std::move(f);
    return true;
}

// The outline's fields at the end of the numbers; false when they are not one an analysis gives.
bool ParseOutline(std::string_view& fields, std::shared_ptr<const TrackWave>* wave) {
    const auto pointUs = Take<int>(fields);
    if (!Within(pointUs, 0, kMaxOutlinePointUs)) return false;
    if (*pointUs == 0) return true;
    const std::size_t space = fields.find(' ');
    if (space == std::string_view::npos || space == 0 || space % TrackWave::kBands != 0) return false;
    auto w = std::make_shared<TrackWave>();
    w->pointSeconds = *pointUs * 1e-6;
    for (auto& band : w->points) band.reserve(space / TrackWave::kBands);
    for (std::size_t i = 0; i < space; ++i) {
        const int v = fields[i] - kOutline0;
        if (v < 0 || v > TrackWave::kTop) return false;
        w->points[i % TrackWave::kBands].push_back(static_cast<std::uint8_t>(v));
    }
    fields.remove_prefix(space + 1);
    *wave = std::move(w);
    return true;
}

std::optional<std::pair<std::string, CachedFacts>> ParseLine(std::string_view line, Layout layout, bool* gridDropped) {
    const std::size_t tab = line.find('\t');
    if (tab == std::string_view::npos) return std::nullopt;
    // The texts: the path, then the artist, title and album.
    std::array<std::string, 4> texts;
    std::string_view rest = line.substr(tab + 1);
    for (std::size_t i = 0; i < texts.size(); ++i) {
        const std::size_t next = rest.find('\t');
        if ((next == std::string_view::npos) != (i + 1 == texts.size())) return std::nullopt;
        auto text = Unescape(rest.substr(0, next));
        if (!text) return std::nullopt;
        texts[i] = std::move(*text);
        if (next != std::string_view::npos) rest.remove_prefix(next + 1);
    }
    if (texts[0].empty()) return std::nullopt;

    std::string numbers(line.substr(0, tab));
    numbers += ' ';
    std::string_view fields = numbers;
    const auto size = Take<std::int64_t>(fields), mtime = Take<std::int64_t>(fields), used = Take<std::int64_t>(fields);
    const auto version = Take<int>(fields);
    const auto lufs = Take<double>(fields), peak = Take<double>(fields), first = Take<double>(fields),
               last = Take<double>(fields);
    const auto audible = Take<int>(fields);
    const auto decoded = Take<double>(fields);
    std::array<std::optional<double>, 6> edges;
    for (auto& db : edges) db = Take<double>(fields);
    const auto bpm = Take<double>(fields), firstBeat = Take<double>(fields), period = Take<double>(fields);
    const auto barPhase = Take<int>(fields), key = Take<int>(fields), track = Take<int>(fields),
               disc = Take<int>(fields), tagsFailed = Take<int>(fields);
    TrackForm form;
    if (layout != Layout::kBeforeForm && !ParseForm(fields, &form)) return std::nullopt;
    std::shared_ptr<const TrackWave> wave;
    if (layout == Layout::kNow && !ParseOutline(fields, &wave)) return std::nullopt;
    // An outline is no longer than the sound it draws.
    if (wave && decoded && wave->pointSeconds * static_cast<double>(wave->points[0].size()) > *decoded + 1) return std::nullopt;
    if (!mtime || !fields.empty() || !Within<std::int64_t>(size, 0, INT64_MAX) ||
        !Within<std::int64_t>(used, 0, INT64_MAX) || !Within(version, 1, INT32_MAX) || !Within(lufs, -100.0, 30.0) ||
        !Within(peak, -200.0, 0.0) || !Within(first, 0.0, kMaxSeconds) || !Within(last, *first, kMaxSeconds) ||
        !Within(audible, 0, 1) || !Within(decoded, *last, kMaxSeconds) ||
        std::any_of(edges.begin(), edges.end(), [](auto db) { return !Within(db, TrackFacts::kSilentDb, kMaxEdgeDb); }) ||
        !Within(bpm, 0.0, kMaxBpm) || !Within(firstBeat, 0.0, kMaxSeconds) ||
        !Within(period, 0.0, 60.0) || (*bpm > 0) != (*period > 0) || !Within(barPhase, -1, 3) ||
        !Within(key, kNoKey, 23) || !Within(track, 0, kMaxNumber) || !Within(disc, 0, kMaxNumber) || !Within(tagsFailed, 0, 1))
        return std::nullopt;
    CachedFacts c;
    c.key = {*size, *mtime};
    c.used = *used;
    c.version = *version;
    c.tagsFailed = *tagsFailed == 1;
    TrackFacts& f = c.facts;
    f.integratedLufs = *lufs;
    f.peakDbfs = *peak;
    f.firstSound = *first;
    f.lastSound = *last;
    f.audible = *audible == 1;
    f.decodedSeconds = *decoded;
    for (int b = 0; b < 3; ++b) {
        f.headEdge.rmsDb[b] = *edges[static_cast<std::size_t>(b)];
        f.tailEdge.rmsDb[b] = *edges[static_cast<std::size_t>(3 + b)];
    }
    f.beats.bpm = *bpm;
    f.beats.firstBeat = *firstBeat;
    f.beats.period = *period;
    f.beats.barPhase = *barPhase;
    if (f.beats.Steady() && !SaneGrid(f.beats)) {
        f.beats = {};  // the rest of the facts are worth keeping
        if (gridDropped) *gridDropped = true;
    }
    // The form counts bars on the grid's bars: without them it means nothing.
    if (f.beats.Steady() && f.beats.barPhase >= 0) f.form = std::move(form);
    else if (form.Known() && gridDropped) *gridDropped = true;
    f.wave = std::move(wave);
    f.key = *key;
    f.tags.trackNumber = *track;
    f.tags.discNumber = *disc;
    f.tags.artist = std::move(texts[1]);
    f.tags.title = std::move(texts[2]);
    f.tags.album = std::move(texts[3]);
    return std::make_pair(std::move(texts[0]), std::move(c));
}

}  // namespace

std::optional<FileKey> KeyOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    return FileKey{static_cast<std::int64_t>(st.st_size),
                   static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

std::string FormatFactsCache(const FactsCache& cache) {
    std::vector<const FactsCache::value_type*> entries;
    for (const auto& e : cache) entries.push_back(&e);
    std::sort(entries.begin(), entries.end(), [](auto* a, auto* b) { return a->first < b->first; });
    std::string out(kHeader);
    out += '\n';
    for (const auto* e : entries) FormatLine(out, e->first, e->second);
    return out;
}

FactsCache ParseFactsCache(std::string_view text, int* dropped) {
    FactsCache cache;
    int bad = 0;
    std::size_t at = text.find('\n');
    const std::string_view header = text.substr(0, at);
    Layout layout = Layout::kNow;
    if (at == std::string_view::npos || (header != kHeader && header != kHeaderBeforeOutline && header != kHeaderBeforeForm)) {
        if (dropped) *dropped = text.empty() ? 0 : 1;
        return cache;
    }
    if (header == kHeaderBeforeOutline) layout = Layout::kBeforeOutline;
    if (header == kHeaderBeforeForm) layout = Layout::kBeforeForm;
    while (++at < text.size()) {
        const std::size_t end = text.find('\n', at);
        if (end == std::string_view::npos) {  // a cut-off last line may hold a cut-off path
            ++bad;
            break;
        }
        bool gridDropped = false;
        auto parsed = ParseLine(text.substr(at, end - at), layout, &gridDropped);
        if (parsed)
            cache.insert_or_assign(std::move(parsed->first), std::move(parsed->second));
        if (!parsed || gridDropped) ++bad;
        at = end;
    }
    if (dropped) *dropped = bad;
    return cache;
}

namespace {

// The entries, the most recently used first.
std::vector<FactsCache::iterator> ByUse(FactsCache& cache) {
    std::vector<FactsCache::iterator> order;
    order.reserve(cache.size());
    for (auto it = cache.begin(); it != cache.end(); ++it) order.push_back(it);
    std::sort(order.begin(), order.end(), [](const auto& a, const auto& b) {
        return a->second.used != b->second.used ? a->second.used > b->second.used : a->first < b->first;
    });
    return order;
}

}  // namespace

std::size_t OutlineBytes(const TrackFacts& facts) {
    return facts.wave ? facts.wave->points[0].size() * TrackWave::kBands : 0;
}

std::vector<std::string> OutlinesPast(FactsCache& cache, std::size_t maxBytes, std::size_t* kept) {
    std::vector<std::string> past;
    std::size_t bytes = 0;
    for (const auto& entry : cache) bytes += OutlineBytes(entry.second.facts);
    if (bytes > maxBytes) {
        bytes = 0;
        for (const auto& it : ByUse(cache)) {
            const std::size_t own = OutlineBytes(it->second.facts);
            if (bytes + own <= maxBytes) bytes += own;
            else if (own > 0) past.push_back(it->first);
        }
    }
    if (kept) *kept = bytes;
    return past;
}

std::size_t BoundOutlines(FactsCache& cache, std::size_t maxBytes) {
    std::size_t kept = 0;
    for (const std::string& path : OutlinesPast(cache, maxBytes, &kept)) cache[path].facts.wave.reset();
    return kept;
}

void BoundFactsCache(FactsCache& cache, std::size_t maxEntries, std::size_t maxBytes, std::size_t maxOutlineBytes) {
    BoundOutlines(cache, maxOutlineBytes);
    const std::vector<FactsCache::iterator> order = ByUse(cache);
    std::size_t bytes = kHeader.size() + 1, kept = 0;
    std::string line;
    for (; kept < order.size() && kept < maxEntries; ++kept) {
        line.clear();
        FormatLine(line, order[kept]->first, order[kept]->second);
        if (bytes + line.size() > maxBytes) break;
        bytes += line.size();
    }
    for (std::size_t i = kept; i < order.size(); ++i) cache.erase(order[i]);
}

}  // namespace quendo::audio
