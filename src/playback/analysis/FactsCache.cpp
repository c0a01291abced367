#include "playback/analysis/FactsCache.h"

#include <sys/stat.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <vector>

namespace quendo::audio {

namespace {

constexpr std::string_view kHeader = "quendo-track-facts 2";
// Bounds of what an analysis can give; a value outside them was not written by one.
constexpr double kMaxSeconds = 1e6;

void Escape(std::string& out, std::string_view path) {
    for (char c : path) {
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
    if (out.empty()) return std::nullopt;
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

bool Within(double v, double lo, double hi) { return v >= lo && v <= hi; }

std::optional<std::pair<std::string, CachedFacts>> ParseLine(std::string_view line) {
    const std::size_t tab = line.find('\t');
    if (tab == std::string_view::npos) return std::nullopt;
    std::string_view fields = line.substr(0, tab);
    std::string fieldsWithEnd(fields);
    fieldsWithEnd += ' ';
    fields = fieldsWithEnd;
    CachedFacts c;
    const auto size = Take<std::int64_t>(fields), mtime = Take<std::int64_t>(fields);
    const auto lufs = Take<double>(fields), peak = Take<double>(fields), first = Take<double>(fields),
               last = Take<double>(fields);
    const auto audible = Take<int>(fields);
    if (!size || !mtime || !lufs || !peak || !first || !last || !audible || !fields.empty()) return std::nullopt;
    if (*size < 0 || !Within(*lufs, -100, 30) || !Within(*peak, -200, 60) || !Within(*first, 0, kMaxSeconds) ||
        !Within(*last, *first, kMaxSeconds) || (*audible != 0 && *audible != 1))
        return std::nullopt;
    auto path = Unescape(line.substr(tab + 1));
    if (!path) return std::nullopt;
    c.key = {*size, *mtime};
    c.facts = {*lufs, *peak, *first, *last, *audible == 1, {}, kNoKey, {}};
    return std::make_pair(std::move(*path), c);
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
    for (const auto* e : entries) {
        const TrackFacts& f = e->second.facts;
        Append(out, e->second.key.size);
        Append(out, e->second.key.mtimeNs);
        Append(out, f.integratedLufs);
        Append(out, f.peakDbfs);
        Append(out, f.firstSound);
        Append(out, f.lastSound);
        out += f.audible ? '1' : '0';
        out += '\t';
        Escape(out, e->first);
        out += '\n';
    }
    return out;
}

FactsCache ParseFactsCache(std::string_view text, int* dropped) {
    FactsCache cache;
    int bad = 0;
    std::size_t at = text.find('\n');
    if (at == std::string_view::npos || text.substr(0, at) != kHeader) {
        if (dropped) *dropped = text.empty() ? 0 : 1;
        return cache;
    }
    while (++at < text.size()) {
        const std::size_t end = text.find('\n', at);
        if (end == std::string_view::npos) {  // a cut-off last line may hold a cut-off path
            ++bad;
            break;
        }
        auto parsed = ParseLine(text.substr(at, end - at));
        if (parsed)
            cache.insert_or_assign(std::move(parsed->first), parsed->second);
        else
            ++bad;
        at = end;
    }
    if (dropped) *dropped = bad;
    return cache;
}

}  // namespace quendo::audio
