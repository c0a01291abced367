#include "library/AutoMixSettings.h"

#include <charconv>
#include <cctype>
#include <cmath>
#include <optional>

#include "library/SafeFile.h"
#include "library/TextLines.h"

namespace quendo {

namespace {

constexpr std::size_t kMaxBytes = 64 * 1024;  // a few lines; anything larger is not this file

std::string_view Trimmed(std::string_view s) {
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!s.empty() && blank(s.front())) s.remove_prefix(1);
    while (!s.empty() && blank(s.back())) s.remove_suffix(1);
    return s;
}

std::optional<bool> Switch(std::string_view v) {
    if (v == "1" || v == "true") return true;
    if (v == "0" || v == "false") return false;
    return std::nullopt;
}

std::optional<double> Target(std::string_view v) {
    double d = 0;
    const auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), d);
    if (ec != std::errc() || end != v.data() + v.size() || !std::isfinite(d)) return std::nullopt;
    if (d < kLowestTargetLufs || d > kHighestTargetLufs) return std::nullopt;
    return d;
}

// A short line of printable text: what a person or a program writes here.
bool Printable(std::string_view v) {
    if (v.size() > 255) return false;
    for (const char c : v)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return false;
    return true;
}

// A device name as the system reports one.
std::optional<std::string> DeviceName(std::string_view v) {
    if (!Printable(v)) return std::nullopt;
    return std::string(v);
}

// The cocktail's switch, written only when off.
bool ApplyCocktail(AutoMixOptions& o, std::string_view key, std::string_view value) {
    if (key != "cocktailSubfolders") return false;
    if (const auto b = Switch(value)) o.cocktailSubfolders = *b;
    return true;
}
std::string CocktailLines(const AutoMixOptions& o) { return o.cocktailSubfolders ? "" : "cocktailSubfolders=0\n"; }

// False for a key this copy does not know.
bool Apply(AutoMixOptions& o, std::string_view key, std::string_view value) {
    if (ApplyCocktail(o, key, value)) return true;
    bool* flag = key == "mixAtLastSound"       ? &o.mixAtLastSound
                 : key == "skipSilenceAtStart" ? &o.skipSilenceAtStart
                 : key == "matchLoudness"      ? &o.matchLoudness
                 : key == "playlistFollowsPlay" ? &o.playlistFollowsPlay
                 : key == "oneInstance"         ? &o.oneInstance
                 : key == "stayAwake"           ? &o.stayAwake
                 : key == "mixOnBeat"           ? &o.mixOnBeat
                 : key == "mixOnPhrases"        ? &o.mixOnPhrases
                 : key == "swapBass"            ? &o.swapBass
                 : key == "showArtistAndTitle"  ? &o.showArtistAndTitle
                 : key == "keepArtistsApart"    ? &o.keepArtistsApart
                 : key == "joinContinuousAlbums" ? &o.joinContinuousAlbums
                 : key == "chooseByKeyAndTempo" ? &o.chooseByKeyAndTempo
                 : key == "showTracks"          ? &o.showTracks
                                               : nullptr;
    if (flag) {
        if (const auto b = Switch(value)) *flag = *b;
    } else if (key == "targetLufs") {
        if (const auto d = Target(value)) o.targetLufs = *d;
    } else if (key == "outputDevice") {
        if (const auto name = DeviceName(value)) o.outputDevice = *name;
    } else if (key == "preListenDevice") {
        if (const auto name = DeviceName(value)) o.preListenDevice = *name;
    } else {
        return false;
    }
    return true;
}

// A key as a program writes one; anything else on the line is damage, not a setting to keep.
bool LooksLikeKey(std::string_view key) {
    if (key.empty()) return false;
    for (const char c : key)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' && c != '.' && c != '-') return false;
    return true;
}

}  // namespace

AutoMixOptions ParseAutoMixSettings(std::string_view content) {
    AutoMixOptions o;
    TextLines lines(content);
    while (const std::optional<std::string_view> next = lines.Next()) {
        const std::string_view line = *next;
        const std::size_t eq = line.find('=');
        if (eq == std::string_view::npos) continue;
        const std::string_view key = Trimmed(line.substr(0, eq));
        if (!Apply(o, key, Trimmed(line.substr(eq + 1))) && LooksLikeKey(key) && Printable(line)) {
            o.otherLines += line;
            o.otherLines += '\n';
        }
    }
    return o;
}

std::string FormatAutoMixSettings(const AutoMixOptions& o) {
    char target[32];
    const auto [end, ec] = std::to_chars(target, target + sizeof target, o.targetLufs);
    const std::string t = ec == std::errc() ? std::string(target, end) : "-16";
    const auto flag = [](bool b) { return b ? "1" : "0"; };
    return std::string("mixAtLastSound=") + flag(o.mixAtLastSound) + "\n" +
           "skipSilenceAtStart=" + flag(o.skipSilenceAtStart) + "\n" +
           "matchLoudness=" + flag(o.matchLoudness) + "\n" +
           "targetLufs=" + t + "\n" + "outputDevice=" + (DeviceName(o.outputDevice) ? o.outputDevice : "") + "\n" +
           "playlistFollowsPlay=" + flag(o.playlistFollowsPlay) + "\n" +
           "oneInstance=" + flag(o.oneInstance) + "\n" +
           "stayAwake=" + flag(o.stayAwake) + "\n" +
           "mixOnBeat=" + flag(o.mixOnBeat) + "\n" +
           "showArtistAndTitle=" + flag(o.showArtistAndTitle) + "\n" +
           "keepArtistsApart=" + flag(o.keepArtistsApart) + "\n" +
           "joinContinuousAlbums=" + flag(o.joinContinuousAlbums) + "\n" +
           "chooseByKeyAndTempo=" + flag(o.chooseByKeyAndTempo) + "\n" +
           // Later switches only when off: a file of defaults keeps its first layout.
           (o.mixOnPhrases ? "" : "mixOnPhrases=0\n") + (o.swapBass ? "" : "swapBass=0\n") +
           (o.showTracks ? "" : "showTracks=0\n") + CocktailLines(o) +
           (o.preListenDevice.empty() || !DeviceName(o.preListenDevice) ? "" : "preListenDevice=" + o.preListenDevice + "\n") +
           o.otherLines;
}

AutoMixOptions LoadAutoMixSettings(const std::string& path) {
    std::string content;
    if (!ReadWholeFile(path, content, kMaxBytes)) return {};
    return ParseAutoMixSettings(content);
}

bool SaveAutoMixSettings(const std::string& path, const AutoMixOptions& options) {
    return WriteFileAtomically(path, FormatAutoMixSettings(options));
}

}  // namespace quendo
